#pragma once

#include <string>

namespace Novaro
{
namespace DataGen
{

// A quiet ambient pad (a slowly breathing chord), eight seconds long and seamless when looped:
// the sample scene's soundtrack. The format follows the extension ("ogg" or "wav").
bool writeAmbientSoundtrack(const std::string& path);

} // namespace DataGen
} // namespace Novaro
