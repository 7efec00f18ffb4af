// Byte-level work on corpus files that no Debian tool does the way real files
// come: tags written by hand (ID3v2.2, ID3v2.4 with a footer, tags of random
// bytes, APEv2 with a picture, ID3v1), junk before the audio, damage, cuts,
// headers whose sizes were never filled in, files joined end to end and a WAV
// under another magic.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace corpus {

using Bytes = std::vector<std::uint8_t>;

Bytes ReadFile(const std::filesystem::path& path);
void WriteFile(const std::filesystem::path& path, const Bytes& bytes);

// Reproducible noise: the same seed gives the same bytes on every machine.
Bytes Noise(std::size_t count, std::uint32_t seed);

struct Id3Frame {
  std::string id;  // four letters (three in version 2.2)
  Bytes body;
};
Id3Frame TextFrame(int version, const std::string& text);
// Front-cover picture: APIC (PIC in 2.2) with the MIME type ("PNG"/"JPG" in 2.2).
Id3Frame PictureFrame(int version, const std::string& mime, const Bytes& picture);
// An ID3v2.<version> tag (2, 3 or 4) with `padding` zero bytes after the frames;
// a footer (2.4 only) rules out padding.
Bytes Id3v2Tag(int version, const std::vector<Id3Frame>& frames, std::size_t padding,
               bool footer = false);

// An APEv2 tag with header and footer, of text and binary items.
Bytes ApeTag(const std::vector<std::pair<std::string, std::string>>& texts,
             const std::vector<std::pair<std::string, Bytes>>& binaries);
// The value of an APEv2 front-cover item: file name, then the picture.
Bytes ApeCover(const Bytes& png);
// A 128-byte ID3v1 tag.
Bytes Id3v1Tag(const std::string& title, const std::string& artist);

void Prepend(const std::filesystem::path& path, const Bytes& head);
void Append(const std::filesystem::path& path, const Bytes& tail);
// Overwrites `count` bytes at `at` (a fraction of the size) with noise.
void Damage(const std::filesystem::path& from, const std::filesystem::path& to, double at,
            std::size_t count);
// Keeps the first `count` bytes.
void Cut(const std::filesystem::path& from, const std::filesystem::path& to, std::size_t count);
// Where the first APE frame starts: everything before it is header and seek table.
std::size_t ApeHeaderBytes(const std::filesystem::path& path);
// Zeroes the RIFF and data chunk sizes of a WAV, as a recorder that was cut off
// leaves them, after putting chunkBeforeData (whole chunks) before the data chunk.
void ZeroWavSizes(const std::filesystem::path& from, const std::filesystem::path& to,
                  const Bytes& chunkBeforeData = {});

// Writes the parts one after the other, as joined MP3s and chained Ogg files come.
void Join(const std::vector<std::filesystem::path>& parts, const std::filesystem::path& to);
// Replaces the file's first bytes (its magic) with `magic`.
void SetMagic(const std::filesystem::path& from, const std::filesystem::path& to,
              const std::string& magic);
// The frame count of a WAV's fact chunk; 0 when it has none.
std::uint32_t WavFactFrames(const std::filesystem::path& path);

}  // namespace corpus
