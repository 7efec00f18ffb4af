// Whether an Ogg file's pages lie where vorbisfile's link table says. vorbisfile's
// seek bisects each link's byte range and trusts every page there to be the link's;
// in a file spliced from pieces of others (a page of one link inside another's range)
// libogg's stream state goes wrong and a seek can write out of bounds.
#pragma once

#include <string_view>

#define OV_EXCLUDE_STATIC_CALLBACKS
#include <vorbis/vorbisfile.h>

namespace decoding {

// Reads the whole file at `path` once: true when every whole, checksummed page lies
// in the byte range of a link with its serial number. False too when it cannot be read.
bool PagesLieInTheirLinks(std::u16string_view path, const OggVorbis_File& vf);

}  // namespace decoding
