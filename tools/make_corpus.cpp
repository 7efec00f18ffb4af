// Makes a corpus of audio files as people have them, from generated sources, with
// Debian's encoders and taggers (sox, lame, mid3v2, flac, oggenc, jmac, ffmpeg)
// and the byte edits of corpus_edits: cover art in every tag kind, junk before the
// audio, float and hi-res WAV, 1 to 16 channels, damaged, cut and empty files, and
// a WAV renamed to every other extension. Beside each playable file goes ffmpeg's
// decode of it ("<file>.ref.wav", 16-bit, many channels mixed to stereo by the
// matrix the player documents), and corpus.tsv lists every file:
//   file <TAB> family <TAB> expectation <TAB> what the file is
// The family names the rule it is measured by: mp3, wav, adpcm, mix (more than
// two channels mixed to stereo), flac, ogg, ogg-resampled (a chained Ogg link of
// another rate), ape or wma.
// Expectations: play (whole file), pipe (plays whole through a pipe), damaged
// (plays around the damage), cut (plays up to the cut), empty (nothing to play),
// refused (not this format).
// A file joined from parts of different formats is played in its first part's
// format; its reference is made the same way from ffmpeg's decodes of the parts:
// the later part's mono goes to both channels, its stereo to mono as the mean of
// the two, its rate to the first part's through soxr, then the parts are
// concatenated. A WAV whose fact chunk gives its frame count (compressed formats)
// has its reference cut there.
//   make_corpus DIR                 makes the files
//   make_corpus --manifest FILE     writes only the list
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "tools/corpus_edits.h"

namespace fs = std::filesystem;
using namespace corpus;

namespace {

fs::path dir;

// Runs a shell command in which {name} stands for the quoted path of a corpus file.
bool Run(std::string command) {
  for (std::size_t at; (at = command.find('{')) != std::string::npos;) {
    const std::size_t end = command.find('}', at);
    command = command.substr(0, at) + "'" + (dir / command.substr(at + 1, end - at - 1)).string() +
              "'" + command.substr(end + 1);
  }
  command += " >>'" + (dir / "tools.log").string() + "' 2>&1";
  if (std::system(command.c_str()) == 0) return true;
  std::fprintf(stderr, "make_corpus: failed: %s\n", command.c_str());
  return false;
}

fs::path At(const std::string& name) { return dir / name; }

std::string Base64(const Bytes& bytes) {
  static const char* kDigits = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  for (std::size_t i = 0; i < bytes.size(); i += 3) {
    std::uint32_t v = bytes[i] << 16;
    if (i + 1 < bytes.size()) v |= bytes[i + 1] << 8;
    if (i + 2 < bytes.size()) v |= bytes[i + 2];
    for (std::size_t k = 0; k < 4; ++k)
      out += i + k <= bytes.size() ? kDigits[(v >> (18 - 6 * k)) & 63] : '=';
  }
  return out;
}

// A FLAC picture block, as Vorbis comments carry cover art.
std::string PictureComment(const Bytes& jpeg) {
  Bytes block;
  auto put32 = [&block](std::uint32_t v) {
    for (int s = 24; s >= 0; s -= 8) block.push_back(static_cast<std::uint8_t>(v >> s));
  };
  const std::string mime = "image/jpeg";
  put32(3);
  put32(static_cast<std::uint32_t>(mime.size()));
  block.insert(block.end(), mime.begin(), mime.end());
  put32(0);  // no description
  for (std::uint32_t v : {300u, 300u, 24u, 0u}) put32(v);
  put32(static_cast<std::uint32_t>(jpeg.size()));
  block.insert(block.end(), jpeg.begin(), jpeg.end());
  return "METADATA_BLOCK_PICTURE=" + Base64(block);
}

std::size_t SizeOf(const std::string& name) { return fs::file_size(At(name)); }

struct Row {
  const char* file;
  const char* family;
  const char* expect;
  const char* kind;
  std::vector<std::string> steps = {};  // shell commands, then
  std::function<void()> edit = {};      // byte edits, if any
  const char* pan = nullptr;            // ffmpeg's pan filter for the reference of >2 channels
  const char* referenceFrom = nullptr;  // where ffmpeg misreads the file: the same audio untagged
  std::string reference = {};           // a command of its own that makes the reference
};

// Stereo mixes as the player documents them: front pair at full level, centre,
// surround and back channels at -3 dB, the low-frequency channel left out, each
// side scaled so that its weights sum to 1.
constexpr const char* kPan3 = "pan=stereo|c0<c0+0.7071*c2|c1<c1+0.7071*c2";
constexpr const char* kPanQuad = "pan=stereo|c0<c0+0.7071*c2|c1<c1+0.7071*c3";
constexpr const char* kPan51 = "pan=stereo|c0<c0+0.7071*c2+0.7071*c4|c1<c1+0.7071*c2+0.7071*c5";
constexpr const char* kPan71 =
    "pan=stereo|c0<c0+0.7071*c2+0.7071*c4+0.7071*c6|c1<c1+0.7071*c2+0.7071*c5+0.7071*c7";
// Beyond eight channels without a declared layout: even channels left, odd right.
constexpr const char* kPan16 =
    "pan=stereo|c0<c0+c2+c4+c6+c8+c10+c12+c14|c1<c1+c3+c5+c7+c9+c11+c13+c15";

// sox runs with -R and oggenc with a fixed serial number throughout, so that the
// corpus is the same on every machine and every run.
void Sources() {
  const char* music = "synth 2 pluck A2 pluck E3 synth 2 sine mix 440-880 gain -6";
  Run(std::string("sox -R -n -r 44100 -c 2 -b 16 {src-stereo.wav} ") + music);
  Run("sox -R -n -r 44100 -c 2 -b 16 {src-4s.wav} synth 4 pluck A2 pluck E3 synth 4 sine mix "
      "300-1200 gain -6");
  Run("sox -R {src-stereo.wav} {src-mono.wav} remix -");
  Run("sox -R {src-stereo.wav} -r 48000 {src-48k.wav}");
  // A tone of its own on every channel, so that a channel in the wrong place shows.
  for (int channels : {3, 4, 6, 8, 16}) {
    std::string tones;
    for (int c = 0; c < channels; ++c) tones += " sine " + std::to_string(150 + 110 * c);
    Run("sox -R -n -r 48000 -c " + std::to_string(channels) + " -b 16 {src-ch" +
        std::to_string(channels) + ".wav} synth 1" + tones + " gain -8");
  }
  const char* art = "ffmpeg -nostdin -v error -y -f lavfi -i testsrc2=size=";
  Run(std::string(art) + "120x120,noise=alls=60:allf=t -frames:v 1 {art-small.png}");
  Run(std::string(art) + "300x300,noise=alls=60:allf=t -frames:v 1 {art-big.png}");
  Run(std::string(art) + "300x300,noise=alls=30:allf=t -frames:v 1 -q:v 3 {art.jpg}");
  std::ofstream(At("art.comment")) << PictureComment(ReadFile(At("art.jpg")));
}

Bytes Png() { return ReadFile(At("art-small.png")); }
// 4000 bytes from the middle of a file: about ten MP3 frames.
Bytes Clip(const char* file) {
  const Bytes bytes = ReadFile(At(file));
  return Bytes(bytes.begin() + bytes.size() / 2, bytes.begin() + bytes.size() / 2 + 4000);
}
Bytes Jpeg() { return ReadFile(At("art.jpg")); }
// Junk holding frames of another stream, where no three in a row agree: a mono
// frame, then two stereo ones (128k at 48 kHz: 384 bytes a frame).
Bytes StrayFrames() {
  const Bytes mono = ReadFile(At("part-48k-mono.mp3"));
  const Bytes stereo = ReadFile(At("part-48k.mp3"));
  Bytes junk = Noise(10000, 5);
  junk.insert(junk.end(), mono.begin(), mono.begin() + 384);
  junk.insert(junk.end(), stereo.begin(), stereo.begin() + 2 * 384);
  const Bytes more = Noise(10000, 6);
  junk.insert(junk.end(), more.begin(), more.end());
  return junk;
}

// Rows make their files in this order; later ones may start from earlier ones.
std::vector<Row> Rows() {
  auto prepend = [](const char* file, std::function<Bytes()> head) {
    return [=] { Prepend(At(file), head()); };
  };
  auto damage = [](const char* from, const char* to, double at, std::size_t count) {
    return [=] { Damage(At(from), At(to), at, count); };
  };
  // Cut at a fraction of the size, plus a few bytes so that the cut falls mid-frame.
  auto cut = [](const char* from, const char* to, double at, std::size_t more) {
    return [=] { Cut(At(from), At(to), static_cast<std::size_t>(SizeOf(from) * at) + more); };
  };
  const std::string lame = "lame --quiet -b 128 {src-stereo.wav} ";
  const std::string ffmpeg = "ffmpeg -nostdin -v error -y -i ";
  // Two parts end to end; `convert` is the ffmpeg filter that brings the second
  // part's reference decode to the first part's format.
  auto joined = [](const char* file, const char* family, const char* kind,
                   std::vector<std::string> steps, const char* first, const char* second,
                   const char* convert) {
    Row row{file, family,           "play",
            kind, std::move(steps), [=] { Join({At(first), At(second)}, At(file)); }};
    row.reference = std::string("ffmpeg -nostdin -v error -y -i {") + first + "} -i {" + second +
                    "} -filter_complex '[1:a]" + convert +
                    "[b];[0:a][b]concat=n=2:v=0:a=1' -c:a pcm_s16le -f wav {" + file + ".ref.wav}";
    return row;
  };
  // Parts without lame's Info frame, whose encoder delay ffmpeg would trim: every
  // decoder then plays each part's every frame.
  const char* partMono = "lame --quiet -t -m m -b 96 {src-mono.wav} {part-mono.mp3}";
  const char* partStereo = "lame --quiet -t -b 128 {src-stereo.wav} {part-stereo.mp3}";
  const char* part48k = "lame --quiet -t -b 128 {src-48k.wav} {part-48k.mp3}";
  const char* toMono = "pan=mono|c0=0.5*c0+0.5*c1";
  const char* toStereo = "pan=stereo|c0=c0|c1=c0";
  // clang-format off
  return {
    {"plain.mp3", "mp3", "play", "MP3 128k CBR, no tags", {lame + "{plain.mp3}"}},
    {"tag-v23-png.mp3", "mp3", "play", "MP3 128k, ID3v2.3 with a PNG cover (lame), ID3v1",
     {"lame --quiet -b 128 --ti {art-small.png} --tt Song --ta Artist --tl Album {src-stereo.wav} {tag-v23-png.mp3}"}},
    {"tag-v23-jpeg-vbr.mp3", "mp3", "play", "MP3 VBR V2, ID3v2.3 with a JPEG cover (lame)",
     {"lame --quiet -V 2 --ti {art.jpg} --tt Song {src-stereo.wav} {tag-v23-jpeg-vbr.mp3}"}},
    {"tag-v24-png-big.mp3", "mp3", "play", "MP3 192k, ID3v2.4 with a 200 KB PNG cover (mid3v2)",
     {"lame --quiet -b 192 {src-stereo.wav} {tag-v24-png-big.mp3}",
      "mid3v2 -t Song -a Artist -p {art-big.png}:Cover:3:image/png {tag-v24-png-big.mp3}"}},
    {"tag-v24-footer.mp3", "mp3", "play", "MP3 128k, ID3v2.4 with a footer and a JPEG cover",
     {lame + "{tag-v24-footer.mp3}"},
     prepend("tag-v24-footer.mp3", [] {
       return Id3v2Tag(4, {TextFrame(4, "Song"), PictureFrame(4, "image/jpeg", Jpeg())}, 0, true);
     })},
    {"tag-v22.mp3", "mp3", "play", "MP3 128k, ID3v2.2 with a PNG cover", {lame + "{tag-v22.mp3}"},
     prepend("tag-v22.mp3", [] {
       return Id3v2Tag(2, {TextFrame(2, "Song"), PictureFrame(2, "PNG", Png())}, 512);
     })},
    // Private frames hold what their writer likes; here MP3 frames, not to be played.
    {"tag-random-120k.mp3", "mp3", "play", "MP3 128k, ID3v2.3 tag of 120 KB random bytes and an MP3 clip",
     {lame + "{tag-random-120k.mp3}"},
     prepend("tag-random-120k.mp3", [] {
       return Id3v2Tag(3, {{"PRIV", Noise(120000, 3)}, {"PRIV", Clip("plain.mp3")}}, 0);
     })},
    {"tag-random-300k.mp3", "mp3", "play", "MP3 128k, ID3v2.3 tag of 300 KB random bytes",
     {lame + "{tag-random-300k.mp3}"},
     prepend("tag-random-300k.mp3", [] { return Id3v2Tag(3, {{"PRIV", Noise(300000, 4)}}, 0); })},
    // A tagger that put its own tag before the one already there.
    {"tags-two.mp3", "mp3", "play", "MP3 128k after two ID3v2 tags (a PNG cover, then one holding an MP3 clip), ID3v1",
     {lame + "{tags-two.mp3}"},
     [] {
       Prepend(At("tags-two.mp3"), Id3v2Tag(3, {TextFrame(3, "Old"), {"PRIV", Clip("plain.mp3")}}, 0));
       Prepend(At("tags-two.mp3"),
               Id3v2Tag(4, {TextFrame(4, "Song"), PictureFrame(4, "image/png", Png())}, 256));
       Append(At("tags-two.mp3"), Id3v1Tag("Song", "Artist"));
     }},
    // ffmpeg plays the stray frames too: its reference comes from the file without the junk.
    {"junk-20k.mp3", "mp3", "play", "MP3 128k after 20 KB of junk holding stray 48 kHz frames (a mono one, two stereo ones), no tag",
     {lame + "{junk-20k.mp3}", part48k, "lame --quiet -t -m m -b 128 {src-48k.wav} {part-48k-mono.mp3}"},
     prepend("junk-20k.mp3", [] { return StrayFrames(); }), nullptr, "plain.mp3"},
    // A binary item of the end tag holds MP3 frames: they must not be played.
  // ffmpeg plays them, so its reference comes from the file without the tags.
    {"tag-ape-v1-end.mp3", "mp3", "play", "MP3 128k, APEv2 tag with a PNG cover and an MP3 clip, ID3v1, at the end",
     {lame + "{tag-ape-v1-end.mp3}"},
     [] {
       Bytes tail = ApeTag({{"Title", "Song"}, {"Artist", "Artist"}},
                           {{"Cover Art (Front)", ApeCover(Png())}, {"Preview", Clip("plain.mp3")}});
       const Bytes v1 = Id3v1Tag("Song", "Artist");
       tail.insert(tail.end(), v1.begin(), v1.end());
       Append(At("tag-ape-v1-end.mp3"), tail);
     },
     nullptr, "plain.mp3"},
    {"mono-22k.mp3", "mp3", "play", "MP3 MPEG-2 22050 Hz mono 48k",
     {"lame --quiet -m m --resample 22.05 -b 48 {src-stereo.wav} {mono-22k.mp3}"}},
    {"mono-8k.mp3", "mp3", "play", "MP3 MPEG-2.5 8000 Hz mono 16k",
     {"lame --quiet -m m --resample 8 -b 16 {src-stereo.wav} {mono-8k.mp3}"}},
    {"s48k-320.mp3", "mp3", "play", "MP3 48000 Hz 320k joint stereo",
     {"lame --quiet -b 320 {src-48k.wav} {s48k-320.mp3}"}},
    {"damaged.mp3", "mp3", "damaged", "MP3 128k, 400 bytes of noise in the middle", {},
     damage("plain.mp3", "damaged.mp3", 0.5, 400)},
    {"cut.mp3", "mp3", "cut", "MP3 128k, cut off mid-frame", {}, cut("plain.mp3", "cut.mp3", 0.6, 7)},
    {"wav-renamed.mp3", "mp3", "refused", "WAV renamed .mp3", {"cp {src-stereo.wav} {wav-renamed.mp3}"}},
    joined("joined-mono-stereo.mp3", "mp3", "MP3 joined: a mono part, then a stereo one (played mono)",
           {partMono, partStereo}, "part-mono.mp3", "part-stereo.mp3", toMono),
    joined("joined-stereo-mono.mp3", "mp3", "MP3 joined: a stereo part, then a mono one (played stereo)",
           {}, "part-stereo.mp3", "part-mono.mp3", toStereo),
    joined("joined-44k-48k.mp3", "mp3", "MP3 joined: a 44100 Hz part, then a 48000 Hz one (played at 44100 Hz)",
           {}, "part-stereo.mp3", "part-48k.mp3", "aresample=44100:resampler=soxr"),
    {"pipe.mp3", "mp3", "pipe", "MP3 128k after two ID3v2 tags (as tags-two.mp3), ID3v1, read through a pipe",
     {"cp {tags-two.mp3} {pipe.mp3}"}},

    {"u8.wav", "wav", "play", "WAV 8-bit unsigned", {"sox -R {src-stereo.wav} -e unsigned -b 8 {u8.wav}"}},
    {"s16-info.wav", "wav", "play", "WAV 16-bit with a LIST/INFO chunk",
     {ffmpeg + "{src-stereo.wav} -metadata title=Song -metadata artist=Artist -c:a pcm_s16le {s16-info.wav}"}},
    {"s24-96k.wav", "wav", "play", "WAV 24-bit 96 kHz", {"sox -R {src-stereo.wav} -b 24 -r 96000 {s24-96k.wav}"}},
    {"s24-192k.wav", "wav", "play", "WAV 24-bit 192 kHz, 1 s",
     {"sox -R {src-stereo.wav} -b 24 -r 192000 {s24-192k.wav} trim 0 1"}},
    {"s32.wav", "wav", "play", "WAV 32-bit integer", {"sox -R {src-stereo.wav} -b 32 {s32.wav}"}},
    {"f32.wav", "wav", "play", "WAV 32-bit float", {"sox -R {src-stereo.wav} -e floating-point -b 32 {f32.wav}"}},
    {"f64.wav", "wav", "play", "WAV 64-bit float", {"sox -R {src-stereo.wav} -e floating-point -b 64 {f64.wav}"}},
    {"f32-hot.wav", "wav", "play", "WAV 32-bit float with peaks above full scale",
     {ffmpeg + "{src-stereo.wav} -af volume=9dB -c:a pcm_f32le {f32-hot.wav}"}},
    {"ima-adpcm.wav", "adpcm", "play", "WAV IMA ADPCM", {"sox -R {src-stereo.wav} -e ima-adpcm {ima-adpcm.wav}"}},
    {"ms-adpcm.wav", "adpcm", "play", "WAV Microsoft ADPCM", {"sox -R {src-stereo.wav} -e ms-adpcm {ms-adpcm.wav}"}},
    {"alaw-8k.wav", "wav", "play", "WAV A-law 8000 Hz mono", {"sox -R {src-mono.wav} -r 8000 -e a-law {alaw-8k.wav}"}},
    {"s16-8k-mono.wav", "wav", "play", "WAV 16-bit 8000 Hz mono", {"sox -R {src-mono.wav} -r 8000 {s16-8k-mono.wav}"}},
    {"ch3.wav", "mix", "play", "WAV 3 channels (L R C), no layout declared", {"cp {src-ch3.wav} {ch3.wav}"}, {}, kPan3},
    {"ch4-quad.wav", "mix", "play", "WAV 4 channels declared quad", {"cp {src-ch4.wav} {ch4-quad.wav}"}, {}, kPanQuad},
    {"ch4-3.1.wav", "mix", "play", "WAV 4 channels declared 3.1 (L R C LFE)",
     {ffmpeg + "{src-ch4.wav} -af 'channelmap=map=0|1|2|3:channel_layout=3.1' -c:a pcm_s16le {ch4-3.1.wav}"}, {}, kPan3},
    {"ch6.wav", "mix", "play", "WAV 5.1", {"cp {src-ch6.wav} {ch6.wav}"}, {}, kPan51},
    {"ch6-f32.wav", "mix", "play", "WAV 5.1 32-bit float", {"sox -R {src-ch6.wav} -e floating-point -b 32 {ch6-f32.wav}"}, {}, kPan51},
    {"ch8.wav", "mix", "play", "WAV 7.1", {"cp {src-ch8.wav} {ch8.wav}"}, {}, kPan71},
    {"ch16.wav", "mix", "play", "WAV 16 channels, no layout declared", {"cp {src-ch16.wav} {ch16.wav}"}, {}, kPan16},
    {"zero-sizes.wav", "wav", "play", "WAV whose RIFF and data sizes are 0 (recording cut off)", {},
     [] { ZeroWavSizes(At("src-stereo.wav"), At("zero-sizes.wav")); }},
    // A field recorder's iXML chunk of odd size: a pad byte follows it.
    {"zero-sizes-ixml.wav", "wav", "play", "WAV with an odd-sized iXML chunk, RIFF and data sizes 0 (recording cut off)", {},
     [] {
       Bytes chunk = {'i', 'X', 'M', 'L', 9, 0, 0, 0, '<', 'B', 'W', 'F', 'X', 'M', 'L', '/', '>', 0};
       ZeroWavSizes(At("src-stereo.wav"), At("zero-sizes-ixml.wav"), chunk);
     }},
    {"header-only.wav", "wav", "empty", "WAV header without samples",
     {"sox -R -n -r 44100 -c 2 -b 16 {header-only.wav} trim 0 0"}},
    {"damaged.wav", "wav", "play", "WAV 16-bit, 400 bytes of noise in the samples", {},
     damage("src-stereo.wav", "damaged.wav", 0.5, 400)},
    {"cut.wav", "wav", "cut", "WAV 16-bit, cut off mid-frame", {}, cut("src-stereo.wav", "cut.wav", 0.6, 3)},
    // Not a whole number of 320-frame blocks: the last one is padded.
    {"gsm.wav", "wav", "play", "WAV GSM 6.10 8000 Hz mono, with a fact chunk",
     {"sox -R {s16-8k-mono.wav} -e gsm-full-rate {gsm.wav} trim 0 15901s"}},
    {"bw64.wav", "wav", "play", "BW64 WAV 24-bit (RF64 under the broadcast magic)",
     {ffmpeg + "{src-stereo.wav} -c:a pcm_s24le -rf64 always {bw64.wav}"},
     [] { SetMagic(At("bw64.wav"), At("bw64.wav"), "BW64"); }},

    {"art.flac", "flac", "play", "FLAC 16-bit with a PNG picture block and tags",
     {"flac -s -f --picture={art-small.png} -T TITLE=Song -T ARTIST=Artist {src-stereo.wav} -o {art.flac}"}},
    {"s24-96k.flac", "flac", "play", "FLAC 24-bit 96 kHz", {"flac -s -f {s24-96k.wav} -o {s24-96k.flac}"}},
    {"mono-8k.flac", "flac", "play", "FLAC 16-bit 8000 Hz mono", {"flac -s -f {s16-8k-mono.wav} -o {mono-8k.flac}"}},
    {"ch6.flac", "mix", "play", "FLAC 5.1", {"flac -s -f {src-ch6.wav} -o {ch6.flac}"}, {}, kPan51},
    {"ch8.flac", "mix", "play", "FLAC 7.1", {"flac -s -f {src-ch8.wav} -o {ch8.flac}"}, {}, kPan71},
    {"damaged.flac", "flac", "damaged", "FLAC, 400 bytes of noise in the middle",
     {"flac -s -f {src-stereo.wav} -o {damaged.flac}"}, damage("damaged.flac", "damaged.flac", 0.5, 400)},
    {"cut.flac", "flac", "cut", "FLAC, cut off mid-frame", {}, cut("art.flac", "cut.flac", 0.6, 5)},
    {"wav-renamed.flac", "flac", "refused", "WAV renamed .flac", {"cp {src-stereo.wav} {wav-renamed.flac}"}},

    {"art.ogg", "ogg", "play", "Ogg Vorbis q5 with a JPEG cover in its comments",
     {"oggenc -Q --serial 1 -q 5 -c TITLE=Song -c \"$(cat {art.comment})\" {src-stereo.wav} -o {art.ogg}"}},
    {"mono-22k.ogg", "ogg", "play", "Ogg Vorbis 22050 Hz mono",
     {"oggenc -Q --serial 1 -q 2 --resample 22050 --downmix {src-stereo.wav} -o {mono-22k.ogg}"}},
    {"s48k.ogg", "ogg", "play", "Ogg Vorbis 48000 Hz", {"oggenc -Q --serial 1 -q 6 {src-48k.wav} -o {s48k.ogg}"}},
    {"ch6.ogg", "ogg", "refused", "Ogg Vorbis 5.1 (this player takes two channels at most)",
     {"oggenc -Q --serial 1 -q 3 {src-ch6.wav} -o {ch6.ogg}"}},
    {"damaged.ogg", "ogg", "damaged", "Ogg Vorbis, 400 bytes of noise in the middle",
     {"oggenc -Q --serial 1 -q 5 {src-stereo.wav} -o {damaged.ogg}"}, damage("damaged.ogg", "damaged.ogg", 0.5, 400)},
    {"cut.ogg", "ogg", "cut", "Ogg Vorbis, cut off mid-page", {}, cut("art.ogg", "cut.ogg", 0.85, 0)},
    {"wav-renamed.ogg", "ogg", "refused", "WAV renamed .ogg", {"cp {src-stereo.wav} {wav-renamed.ogg}"}},
    joined("chained.ogg", "ogg", "Ogg Vorbis chained: two links of 44100 Hz stereo",
           {"oggenc -Q --serial 2 -q 5 {src-stereo.wav} -o {link-stereo.ogg}",
            "oggenc -Q --serial 3 -q 4 {src-4s.wav} -o {link-4s.ogg}"},
           "link-stereo.ogg", "link-4s.ogg", "anull"),
    joined("chained-44k-22k.ogg", "ogg-resampled", "Ogg Vorbis chained: 44100 Hz stereo, then 22050 Hz mono (played at 44100 Hz stereo)",
           {"oggenc -Q --serial 4 -q 2 --resample 22050 --downmix {src-stereo.wav} -o {link-mono-22k.ogg}"},
           "link-stereo.ogg", "link-mono-22k.ogg", "pan=stereo|c0=c0|c1=c0,aresample=44100:resampler=soxr"),
    // From a pipe vorbisfile meets the second link only when it comes.
    [] {
      Row row{"pipe-chained.ogg", "ogg-resampled", "pipe", "The chained Ogg Vorbis above, read through a pipe",
              {"cp {chained-44k-22k.ogg} {pipe-chained.ogg}"}};
      row.reference = "cp {chained-44k-22k.ogg.ref.wav} {pipe-chained.ogg.ref.wav}";
      return row;
    }(),

    // jmac starts a Java machine per file, so two encodes serve every APE row; it
    // reads only plain PCM WAV headers, not the extensible ones sox writes for 24 bits.
    {"tagged.ape", "ape", "play", "APE normal, APEv2 tag with a PNG cover at the end, 4 s",
     {"jmac c2 {src-4s.wav} {tagged.ape}"},
     [] {
       Append(At("tagged.ape"),
              ApeTag({{"Title", "Song"}, {"Artist", "Artist"}}, {{"Cover Art (Front)", ApeCover(Png())}}));
     }},
    {"s24-96k.ape", "ape", "play", "APE extra high, 24-bit 96 kHz",
     {"sox -R {s24-96k.wav} -t wavpcm {pcm24.wav}", "jmac c4 {pcm24.wav} {s24-96k.ape}"}},
    {"damaged.ape", "ape", "damaged", "APE, 300 bytes of noise in its second frame", {},
     damage("tagged.ape", "damaged.ape", 0.5, 300)},
    {"cut.ape", "ape", "cut", "APE, cut off in its second frame", {}, cut("tagged.ape", "cut.ape", 0.6, 0)},
    {"header-only.ape", "ape", "empty", "APE header and seek table without frames", {},
     [] { Cut(At("tagged.ape"), At("header-only.ape"), ApeHeaderBytes(At("tagged.ape"))); }},
    {"wav-renamed.ape", "ape", "refused", "WAV renamed .ape", {"cp {src-stereo.wav} {wav-renamed.ape}"}},

    {"tagged.wma", "wma", "play", "WMA v2 128k with title and artist",
     {ffmpeg + "{src-stereo.wav} -metadata title=Song -metadata artist=Artist -c:a wmav2 -b:a 128k {tagged.wma}"}},
    {"wmav1-22k-mono.wma", "wma", "play", "WMA v1 22050 Hz mono 32k",
     {ffmpeg + "{src-mono.wav} -ar 22050 -c:a wmav1 -b:a 32k {wmav1-22k-mono.wma}"}},
    {"s48k.wma", "wma", "play", "WMA v2 48000 Hz 192k", {ffmpeg + "{src-48k.wav} -c:a wmav2 -b:a 192k {s48k.wma}"}},
    {"damaged.wma", "wma", "damaged", "WMA, 400 bytes of noise in the middle", {},
     damage("tagged.wma", "damaged.wma", 0.5, 400)},
    {"cut.wma", "wma", "cut", "WMA, cut off mid-packet", {}, cut("tagged.wma", "cut.wma", 0.6, 11)},
    {"wav-renamed.wma", "wma", "refused", "WAV renamed .wma", {"cp {src-stereo.wav} {wav-renamed.wma}"}},
  };
  // clang-format on
}

void WriteManifest(const fs::path& path) {
  std::ofstream manifest(path);
  for (const Row& row : Rows())
    manifest << row.file << '\t' << row.family << '\t' << row.expect << '\t' << row.kind << '\n';
}

}  // namespace

int main(int argc, char** argv) {
  const std::string first = argc > 1 ? argv[1] : "";
  if (argc == 3 && first == "--manifest") {
    WriteManifest(argv[2]);
    return 0;
  }
  if (argc != 2 || first.empty() || first[0] == '-') {
    std::fprintf(stderr, "usage: make_corpus DIR | make_corpus --manifest FILE\n");
    return 2;
  }
  dir = first;
  fs::create_directories(dir);
  Sources();
  bool ok = true;
  for (const Row& row : Rows()) {
    for (const std::string& step : row.steps) ok = Run(step) && ok;
    if (row.edit) row.edit();
    const std::string expect = row.expect;
    if (!row.reference.empty()) {
      ok = Run(row.reference) && ok;
    } else if (expect != "refused" && expect != "empty") {
      std::vector<std::string> filters;
      if (row.pan != nullptr) filters.push_back(row.pan);
      // ffmpeg plays a compressed WAV's last block whole; its fact chunk says where the audio ends.
      const std::string file = row.file;
      const std::uint32_t fact =
          file.size() > 4 && file.substr(file.size() - 4) == ".wav" ? WavFactFrames(At(file)) : 0;
      if (fact > 0) filters.push_back("atrim=end_sample=" + std::to_string(fact));
      std::string chain;
      for (const std::string& filter : filters) chain += (chain.empty() ? "" : ",") + filter;
      const std::string af = chain.empty() ? "" : " -af '" + chain + "'";
      const std::string from = row.referenceFrom != nullptr ? row.referenceFrom : row.file;
      ok = Run("ffmpeg -nostdin -v error -y -i {" + from + "}" + af + " -c:a pcm_s16le -f wav {" +
               row.file + ".ref.wav}") &&
           ok;
    }
  }
  WriteManifest(dir / "corpus.tsv");
  return ok ? 0 : 1;
}
