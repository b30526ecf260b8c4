#pragma once

#include <cstddef>
#include <string>

namespace osgART
{

/// Every file the library reads comes from an exported scene or from another person, so it is read
/// as untrusted: a regular file only, of bounded size, and of bounded nesting before a recursive
/// parser sees it. Images are held to the sizes the player can show.

/// Largest video or camera image side, pixels (default 8192). A frame of this size in BGR takes
/// 192 MB; the limit also keeps every texture size a power of two representable in an int.
const int kMaximumImageSide = 8192;
/// Smallest camera image side, pixels (default 16): smaller frames are never tracked.
const int kMinimumImageSide = 16;

/// True only for a regular file that this process can open for reading. A folder or a device
/// (/dev/zero, a pipe) given where a file is expected must be refused before a reader spins on it.
bool isReadableRegularFile(const std::string& path);

/// Reads a whole regular file of at most maxBytes. False, with the reason in error, for a missing,
/// unreadable or non-regular file, or a larger one (nothing is read then).
bool readBoundedFile(const std::string& path, std::size_t maxBytes, std::string& content, std::string& error);

/// Deepest element nesting of an XML text, skipping comments, CDATA sections, processing
/// instructions, declarations and '>' inside quoted attribute values. Linear in the text. Where
/// parsers end a construct at different places, the earliest is taken, so that no element a parser
/// would descend into goes uncounted: a processing instruction ends at its first '>' (as TinyXML
/// ends it), not at "?>".
int xmlNestingDepth(const std::string& xml);

/// Deepest nesting of a YAML (or JSON) text: block levels by indentation and "- " entries, plus
/// open flow brackets ('[' and '{' outside quotes and comments). Linear in the text.
int yamlNestingDepth(const std::string& yaml);

/// Reads the pixel size from an image file's header without decoding it: PNG, JPEG, BMP, PNM, GIF,
/// TIFF, SGI, DDS by their signatures, and TGA (which has none) by its extension. False when the
/// format is not one of these or the header is malformed (a JPEG whose frame header comes after
/// more than 4096 segments counts as malformed). A picture whose size cannot be read is not to be
/// decoded: decoders allocate what the header claims.
bool readImageHeaderSize(const std::string& path, int& width, int& height);

/// True for sizes of 1..kMaximumImageSide pixels on each side.
inline bool isShowableImageSize(int width, int height)
{
    return width > 0 && height > 0 && width <= kMaximumImageSide && height <= kMaximumImageSide;
}

/// The one check before any picture is decoded: its header is read, and its size is showable.
/// False, with the reason in 'reason' ("its header claims 65500x65500 pixels, more than 8192 on a
/// side", or that its size cannot be read), otherwise.
bool checkImageHeader(const std::string& path, std::string& reason);

/// False, with the reason, for a JPEG or PNG picture cut short (a download or copy that stopped):
/// its end marker (JPEG's EOI, PNG's IEND chunk) is missing from its last 4 KiB. Decoders fill
/// the missing rows with grey and say nothing; a picture tracked by its features must be whole.
/// Other formats pass.
bool checkPictureIsWhole(const std::string& path, std::string& reason);

} // namespace osgART
