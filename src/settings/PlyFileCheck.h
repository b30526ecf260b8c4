#pragma once

// OpenSceneGraph's PLY reader trusts the header: a data line with fewer values than its element's
// properties makes it read past its list of words (Assimp's test model issue623.ply, whose vertices
// declare face indices they do not carry, is a read of a null pointer), and a count larger than the
// file makes it read and allocate for elements that are not there. PLY files come from untrusted
// scans and exports, so the player checks them first.

#include <string>

namespace Novaro
{

// Empty when the PLY data can be handed to OpenSceneGraph's reader, else why not. The header is
// read as that reader reads it: from a first line starting "ply" to the first line whose first
// word is end_header, words split at spaces, tabs and carriage returns, no line empty, every
// element and property in a form it takes and, where it reads the data, of a type it knows. Then
// the data it reads is walked where it reads it: the vertex and face elements in header order,
// every other element skipped without reading (as it does); in ASCII a line per element holding a
// value for each property (a list: its count, then that many), in binary each element's bytes,
// its lists' counts read, inside the file; and every vertex a face names is one of the vertices.
std::string checkPlyData(const std::string& data);

} // namespace Novaro
