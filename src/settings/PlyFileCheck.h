#pragma once

// OpenSceneGraph's PLY reader trusts the header: a data line with fewer values than its element's
// properties makes it read past its list of words (Assimp's test model issue623.ply, whose vertices
// declare face indices they do not carry, is a read of a null pointer), and a count larger than the
// file makes it read and allocate for elements that are not there. PLY files come from untrusted
// scans and exports, so the player checks them first.

#include <string>

namespace Novaro
{

// Empty when the PLY data can be handed to OpenSceneGraph's reader, else why not. The header must
// end (end_header) with every element and property in a known form and type; then every element
// is walked: in ASCII each one's line must hold a value for each property (a list: its count, then
// that many), in binary each one's bytes, its lists' counts read, must lie inside the file. Data
// that does not start with "ply" is not checked (the reader refuses it).
std::string checkPlyData(const std::string& data);

} // namespace Novaro
