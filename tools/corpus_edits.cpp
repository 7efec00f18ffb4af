#include "tools/corpus_edits.h"

#include <algorithm>
#include <fstream>
#include <iterator>

namespace corpus {
namespace {

void Put(Bytes& out, const std::string& text) { out.insert(out.end(), text.begin(), text.end()); }

void PutBigEndian(Bytes& out, std::uint32_t value, int bytes) {
  for (int i = bytes - 1; i >= 0; --i) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

void PutLittleEndian(Bytes& out, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

void PutSyncsafe(Bytes& out, std::uint32_t value) {
  for (int shift = 21; shift >= 0; shift -= 7) out.push_back((value >> shift) & 0x7F);
}

std::uint32_t LittleEndianAt(const Bytes& bytes, std::size_t at) {
  std::uint32_t value = 0;
  for (int i = 3; i >= 0; --i) value = (value << 8) | bytes.at(at + i);
  return value;
}

// An ID3v2 header or footer ("ID3" or "3DI").
void PutId3Header(Bytes& out, const char* magic, int version, std::uint8_t flags,
                  std::uint32_t size) {
  Put(out, magic);
  out.push_back(static_cast<std::uint8_t>(version));
  out.push_back(0);
  out.push_back(flags);
  PutSyncsafe(out, size);
}

// APEv2 header and footer differ only in their flags.
void PutApeHeader(Bytes& out, std::uint32_t size, std::uint32_t items, bool isHeader) {
  Put(out, "APETAGEX");
  PutLittleEndian(out, 2000);
  PutLittleEndian(out, size);
  PutLittleEndian(out, items);
  PutLittleEndian(out, 0x80000000u | (isHeader ? 0x20000000u : 0));
  out.insert(out.end(), 8, 0);
}

void PutPadded(Bytes& out, const std::string& text, std::size_t width) {
  Bytes field(width, 0);
  std::copy_n(text.begin(), std::min(width, text.size()), field.begin());
  out.insert(out.end(), field.begin(), field.end());
}

}  // namespace

Bytes ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFile(const std::filesystem::path& path, const Bytes& bytes) {
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
}

Bytes Noise(std::size_t count, std::uint32_t seed) {
  Bytes bytes(count);
  for (std::uint8_t& b : bytes) {
    seed = seed * 1664525u + 1013904223u;
    b = static_cast<std::uint8_t>(seed >> 24);
  }
  return bytes;
}

Id3Frame TextFrame(int version, const std::string& text) {
  Bytes body{0};  // ISO-8859-1
  Put(body, text);
  return {version == 2 ? "TT2" : "TIT2", body};
}

Id3Frame PictureFrame(int version, const std::string& mime, const Bytes& picture) {
  Bytes body{0};
  Put(body, mime);
  if (version != 2) body.push_back(0);
  body.push_back(3);  // front cover
  Put(body, "Cover");
  body.push_back(0);
  body.insert(body.end(), picture.begin(), picture.end());
  return {version == 2 ? "PIC" : "APIC", body};
}

Bytes Id3v2Tag(int version, const std::vector<Id3Frame>& frames, std::size_t padding, bool footer) {
  Bytes body;
  for (const Id3Frame& frame : frames) {
    Put(body, frame.id);
    const auto size = static_cast<std::uint32_t>(frame.body.size());
    if (version == 2) {
      PutBigEndian(body, size, 3);
    } else {
      if (version == 4)
        PutSyncsafe(body, size);
      else
        PutBigEndian(body, size, 4);
      body.push_back(0);
      body.push_back(0);
    }
    body.insert(body.end(), frame.body.begin(), frame.body.end());
  }
  body.insert(body.end(), footer ? 0 : padding, 0);
  const auto size = static_cast<std::uint32_t>(body.size());
  const std::uint8_t flags = footer ? 0x10 : 0;
  Bytes tag;
  PutId3Header(tag, "ID3", version, flags, size);
  tag.insert(tag.end(), body.begin(), body.end());
  if (footer) PutId3Header(tag, "3DI", version, flags, size);
  return tag;
}

Bytes ApeTag(const std::vector<std::pair<std::string, std::string>>& texts,
             const std::vector<std::pair<std::string, Bytes>>& binaries) {
  Bytes items;
  auto item = [&items](const std::string& key, const Bytes& value, std::uint32_t flags) {
    PutLittleEndian(items, static_cast<std::uint32_t>(value.size()));
    PutLittleEndian(items, flags);
    Put(items, key);
    items.push_back(0);
    items.insert(items.end(), value.begin(), value.end());
  };
  for (const auto& [key, text] : texts) item(key, Bytes(text.begin(), text.end()), 0);
  for (const auto& [key, value] : binaries) item(key, value, 2);  // binary items
  const auto count = static_cast<std::uint32_t>(texts.size() + binaries.size());
  const auto size = static_cast<std::uint32_t>(items.size() + 32);
  Bytes tag;
  PutApeHeader(tag, size, count, true);
  tag.insert(tag.end(), items.begin(), items.end());
  PutApeHeader(tag, size, count, false);
  return tag;
}

Bytes ApeCover(const Bytes& png) {
  Bytes value{'c', 'o', 'v', 'e', 'r', '.', 'p', 'n', 'g', 0};
  value.insert(value.end(), png.begin(), png.end());
  return value;
}

Bytes Id3v1Tag(const std::string& title, const std::string& artist) {
  Bytes tag;
  Put(tag, "TAG");
  PutPadded(tag, title, 30);
  PutPadded(tag, artist, 30);
  PutPadded(tag, "Corpus", 30);
  PutPadded(tag, "2024", 4);
  PutPadded(tag, "", 30);
  tag.push_back(12);  // genre: Other
  return tag;
}

void Prepend(const std::filesystem::path& path, const Bytes& head) {
  Bytes bytes = head;
  const Bytes rest = ReadFile(path);
  bytes.insert(bytes.end(), rest.begin(), rest.end());
  WriteFile(path, bytes);
}

void Append(const std::filesystem::path& path, const Bytes& tail) {
  Bytes bytes = ReadFile(path);
  bytes.insert(bytes.end(), tail.begin(), tail.end());
  WriteFile(path, bytes);
}

void Damage(const std::filesystem::path& from, const std::filesystem::path& to, double at,
            std::size_t count) {
  Bytes bytes = ReadFile(from);
  const auto start = static_cast<std::size_t>(static_cast<double>(bytes.size()) * at);
  const Bytes noise = Noise(count, 12345);
  for (std::size_t i = 0; i < count && start + i < bytes.size(); ++i) bytes[start + i] = noise[i];
  WriteFile(to, bytes);
}

void Cut(const std::filesystem::path& from, const std::filesystem::path& to, std::size_t count) {
  Bytes bytes = ReadFile(from);
  bytes.resize(std::min(count, bytes.size()));
  WriteFile(to, bytes);
}

std::size_t ApeHeaderBytes(const std::filesystem::path& path) {
  const Bytes bytes = ReadFile(path);
  if (bytes.size() < 24) return 0;
  // Descriptor, header, seek table and the stored WAV header, in that order.
  return LittleEndianAt(bytes, 8) + LittleEndianAt(bytes, 12) + LittleEndianAt(bytes, 16) +
         LittleEndianAt(bytes, 20);
}

void ZeroWavSizes(const std::filesystem::path& from, const std::filesystem::path& to,
                  const Bytes& chunkBeforeData) {
  Bytes bytes = ReadFile(from);
  std::fill_n(bytes.begin() + 4, 4, 0);
  // Chunks after "WAVE": the data chunk's size is the one the decoder goes by.
  for (std::size_t at = 12; at + 8 <= bytes.size();) {
    const std::uint32_t size = LittleEndianAt(bytes, at + 4);
    if (std::equal(bytes.begin() + at, bytes.begin() + at + 4, "data")) {
      bytes.insert(bytes.begin() + at, chunkBeforeData.begin(), chunkBeforeData.end());
      at += chunkBeforeData.size();
      std::fill_n(bytes.begin() + at + 4, 4, 0);
      break;
    }
    at += 8 + size + (size & 1);
  }
  WriteFile(to, bytes);
}

void Join(const std::vector<std::filesystem::path>& parts, const std::filesystem::path& to) {
  Bytes bytes;
  for (const auto& part : parts) {
    const Bytes more = ReadFile(part);
    bytes.insert(bytes.end(), more.begin(), more.end());
  }
  WriteFile(to, bytes);
}

void SetMagic(const std::filesystem::path& from, const std::filesystem::path& to,
              const std::string& magic) {
  Bytes bytes = ReadFile(from);
  std::copy_n(magic.begin(), std::min(magic.size(), bytes.size()), bytes.begin());
  WriteFile(to, bytes);
}

std::uint32_t WavFactFrames(const std::filesystem::path& path) {
  const Bytes bytes = ReadFile(path);
  for (std::size_t at = 12; at + 12 <= bytes.size();) {
    const std::uint32_t size = LittleEndianAt(bytes, at + 4);
    if (std::equal(bytes.begin() + at, bytes.begin() + at + 4, "fact"))
      return LittleEndianAt(bytes, at + 8);
    if (std::equal(bytes.begin() + at, bytes.begin() + at + 4, "data")) break;
    at += 8 + std::size_t{size} + (size & 1);
  }
  return 0;
}

}  // namespace corpus
