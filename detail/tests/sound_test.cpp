// The detail program's sounds: the wave reader behind the format picture (valid files of every kind,
// and files that are cut short or lie about their lengths), the default sound files put into the
// root's media folder, and the desktop sound output on a machine that may have no sound device.

#include <QCoreApplication>

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <ostream>
#include <set>
#include <string>
#include <vector>

#include "plat/base/system_root.h"
#include "sound.h"
#include "testsupport/temp_root.h"
#include "watchpanel/wave_format.h"

namespace fs = std::filesystem;
using namespace watchpanel;
using namespace std::string_literals;

namespace {

// QSoundEffect needs an application object and its event loop.
class CoreEnvironment : public ::testing::Environment {
public:
    void SetUp() override
    {
        static int argc = 1;
        static char name[] = "watchpanel_sound_test";
        static char* argv[] = {name, nullptr};
        m_app = std::make_unique<QCoreApplication>(argc, argv);
    }
    void TearDown() override { m_app.reset(); }

private:
    std::unique_ptr<QCoreApplication> m_app;
};

[[maybe_unused]] auto* const environment = ::testing::AddGlobalTestEnvironment(new CoreEnvironment);

void put16(std::string& out, std::uint32_t value)
{
    out.push_back(static_cast<char>(value & 0xFF));
    out.push_back(static_cast<char>((value >> 8) & 0xFF));
}

void put32(std::string& out, std::uint32_t value)
{
    put16(out, value & 0xFFFF);
    put16(out, value >> 16);
}

std::string chunk(const std::string& id, const std::string& body, std::uint32_t claimedSize)
{
    std::string out = id;
    put32(out, claimedSize);
    return out + body;
}

std::string chunk(const std::string& id, const std::string& body)
{
    return chunk(id, body, static_cast<std::uint32_t>(body.size()));
}

std::string fmtBody(std::uint16_t channels, std::uint32_t rate, std::uint16_t bits, std::uint16_t tag = 1)
{
    const std::uint32_t frame = channels * ((bits + 7u) / 8u);
    std::string body;
    put16(body, tag);
    put16(body, channels);
    put32(body, rate);
    put32(body, rate * frame);
    put16(body, frame);
    put16(body, bits);
    return body;
}

std::string riff(const std::string& chunks) { return chunk("RIFF", "WAVE" + chunks); }

std::string wave(std::uint16_t channels, std::uint32_t rate, std::uint16_t bits)
{
    return riff(chunk("fmt ", fmtBody(channels, rate, bits)) + chunk("data", std::string(64, '\0')));
}

std::optional<WaveFormat> parse(const std::string& bytes) { return parseWaveFormat(std::as_bytes(std::span(bytes))); }

void writeFile(const fs::path& path, const std::string& bytes) { std::ofstream(path, std::ios::binary) << bytes; }

std::string readFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

const std::vector<std::string> kDefaultNames = {
    "01READY.WAV",  "02STOP.WAV",   "03PPROUT.WAV", "04PPRFEW.WAV", "05JAM.WAV",    "06PCOVER.WAV",
    "07TONFEW.WAV", "08TONOUT.WAV", "09INKFEW.WAV", "10INKOUT.WAV", "11COMERR.WAV", "12ERROR.WAV",
};

// ---- The format picture of well-formed files ----------------------------------------------------

struct FormatCase {
    const char* name;
    std::uint16_t channels;
    std::uint32_t rate;
    std::uint16_t bits;
    int picture;
};

void PrintTo(const FormatCase& c, std::ostream* out) { *out << c.name; }

class FormatPicture : public testsupport::RootTest, public ::testing::WithParamInterface<FormatCase> {};

TEST_P(FormatPicture, ComesFromChannelsRateAndBits)
{
    const FormatCase& c = GetParam();
    const fs::path file = root.path() / "sound.wav";
    writeFile(file, wave(c.channels, c.rate, c.bits));
    EXPECT_EQ(waveFormatPicture(file.string()), c.picture);
}

INSTANTIATE_TEST_SUITE_P(
    Files, FormatPicture,
    ::testing::Values(
        FormatCase{"Mono11025Hz8Bit", 1, 11025, 8, 300}, FormatCase{"Mono11025Hz16Bit", 1, 11025, 16, 301},
        FormatCase{"Mono22050Hz8Bit", 1, 22050, 8, 302}, FormatCase{"Mono22050Hz16Bit", 1, 22050, 16, 303},
        FormatCase{"Mono44100Hz8Bit", 1, 44100, 8, 304}, FormatCase{"Mono44100Hz16Bit", 1, 44100, 16, 305},
        FormatCase{"Stereo11025Hz8Bit", 2, 11025, 8, 306}, FormatCase{"Stereo11025Hz16Bit", 2, 11025, 16, 307},
        FormatCase{"Stereo22050Hz8Bit", 2, 22050, 8, 308}, FormatCase{"Stereo22050Hz16Bit", 2, 22050, 16, 309},
        FormatCase{"Stereo44100Hz8Bit", 2, 44100, 8, 310}, FormatCase{"Stereo44100Hz16Bit", 2, 44100, 16, 311},
        FormatCase{"SixChannelsCountAsStereo", 6, 48000, 24, 311},
        FormatCase{"JustAbove22050IsAbove", 1, 22051, 8, 304}, FormatCase{"JustBelow22050IsBelow", 1, 22049, 16, 301}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(FormatParse, FindsTheFormatBehindOtherChunksAndTheirPadByte)
{
    // "LIST" of odd length 3 is followed by a pad byte; "fmt " starts after it.
    const std::string bytes =
        riff(chunk("LIST", std::string("abc") + '\0', 3) + chunk("junk", "") + chunk("fmt ", fmtBody(1, 22050, 16)));
    const auto format = parse(bytes);
    ASSERT_TRUE(format);
    EXPECT_EQ(waveFormatCode(*format), 3);
}

TEST(FormatParse, TakesAnExtendedFormatByItsPcmFields)
{
    std::string body = fmtBody(2, 48000, 24, 0xFFFE);
    put16(body, 22);
    body += std::string(22, '\x01');
    const auto format = parse(riff(chunk("fmt ", body)));
    ASSERT_TRUE(format);
    EXPECT_EQ(waveFormatCode(*format), 11);
}

TEST(FormatParse, TakesAFormEndThatLiesLongAsTheEndOfTheBytes)
{
    std::string bytes = wave(1, 22050, 16);
    bytes[4] = bytes[5] = bytes[6] = bytes[7] = '\xFF';
    EXPECT_TRUE(parse(bytes));
}

// ---- Files that are not wave files, or are broken ------------------------------------------------

struct BrokenCase {
    const char* name;
    std::string bytes;
};

void PrintTo(const BrokenCase& c, std::ostream* out) { *out << c.name; }

class BrokenFile : public ::testing::TestWithParam<BrokenCase> {};

TEST_P(BrokenFile, HasNoFormat) { EXPECT_FALSE(parse(GetParam().bytes)); }

INSTANTIATE_TEST_SUITE_P(
    Files, BrokenFile,
    ::testing::Values(
        BrokenCase{"Empty", ""}, BrokenCase{"OnlyTheRiffId", "RIFF"},
        BrokenCase{"NotRiff", "RIFX" + wave(1, 22050, 16).substr(4)},
        BrokenCase{"RiffOfAnotherForm", "RIFF\x10\0\0\0AVI "s + chunk("fmt ", fmtBody(1, 22050, 16))},
        BrokenCase{"NoFormatChunk", riff(chunk("data", std::string(32, '\0')))},
        BrokenCase{"FormatOfFourteenBytes", riff(chunk("fmt ", fmtBody(1, 22050, 16).substr(0, 14)))},
        BrokenCase{"FormatLongerThanTheFile", riff(chunk("fmt ", fmtBody(1, 22050, 16).substr(0, 10), 16))},
        BrokenCase{"NoChannels", wave(0, 22050, 16)},
        BrokenCase{"ChunkBeforeTheFormatClaimsFourGigabytes",
                   riff(chunk("LIST", "abcd", 0xFFFFFFFF) + chunk("fmt ", fmtBody(1, 22050, 16)))},
        BrokenCase{"ChunkBeforeTheFormatOverrunsTheFile",
                   riff(chunk("LIST", "abcd", 100) + chunk("fmt ", fmtBody(1, 22050, 16)))},
        BrokenCase{"FormatOutsideTheFormsLength", "RIFF\x04\0\0\0WAVE"s + chunk("fmt ", fmtBody(1, 22050, 16))},
        BrokenCase{"FormatCutByTheFormsLength", "RIFF\x16\0\0\0WAVE"s + chunk("fmt ", fmtBody(1, 22050, 16))}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(FormatParse, EveryCutOfAHeaderEitherHasTheFormatOrNot)
{
    const std::string whole = riff(chunk("fmt ", fmtBody(2, 44100, 16)));
    const std::size_t needed = 12 + 8 + 16;
    for (std::size_t length = 0; length <= whole.size(); ++length) {
        EXPECT_EQ(parse(whole.substr(0, length)).has_value(), length >= needed) << "cut at " << length;
    }
}

using FormatPictureOf = testsupport::RootTest;

TEST_F(FormatPictureOf, NoFileIs312) { EXPECT_EQ(waveFormatPicture(""), 312); }

TEST_F(FormatPictureOf, UnreadableFilesAre300)
{
    EXPECT_EQ(waveFormatPicture((root.path() / "missing.wav").string()), 300);
    EXPECT_EQ(waveFormatPicture(root.path().string()), 300);  // a folder
    writeFile(root.path() / "text.wav", "not a sound at all");
    EXPECT_EQ(waveFormatPicture((root.path() / "text.wav").string()), 300);
    writeFile(root.path() / "empty.wav", "");
    EXPECT_EQ(waveFormatPicture((root.path() / "empty.wav").string()), 300);
}

TEST_F(FormatPictureOf, NamedPipeIsNotWaitedOn)
{
    const fs::path pipe = root.path() / "pipe.wav";
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    EXPECT_EQ(waveFormatPicture(pipe.string()), 300);
}

TEST_F(FormatPictureOf, FormatBeyondTheReadLimitIsNotLookedFor)
{
    const fs::path near = root.path() / "near.wav";
    const fs::path far = root.path() / "far.wav";
    const std::string format = chunk("fmt ", fmtBody(1, 22050, 16));
    writeFile(near, riff(chunk("LIST", std::string(kWaveHeaderLimit - 12 - 8 - 24, 'x')) + format));
    writeFile(far, riff(chunk("LIST", std::string(kWaveHeaderLimit, 'x')) + format));
    EXPECT_EQ(waveFormatPicture(near.string()), 303);
    EXPECT_EQ(waveFormatPicture(far.string()), 300);
}

// ---- The default sounds --------------------------------------------------------------------------

using DefaultSounds = testsupport::RootTest;

TEST_F(DefaultSounds, AreAllInstalledAsPrivateShortMonoPcmFiles)
{
    installDefaultSounds();
    const fs::path media = plat::windowsDir() / "media";
    std::set<std::string> contents;
    for (const auto& name : kDefaultNames) {
        const fs::path file = media / name;
        SCOPED_TRACE(name);
        struct stat info {};
        ASSERT_EQ(::stat(file.c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 07777, 0600u);
        const std::string bytes = readFile(file);
        const auto format = parse(bytes);
        ASSERT_TRUE(format);
        EXPECT_EQ(format->formatTag, 1);
        EXPECT_EQ(format->blockAlign, 2);
        EXPECT_EQ(waveFormatPicture(file.string()), 303);  // mono, 22050, 16 bits
        // Between 0.3 s and 1 s of sound (the header is 44 bytes).
        const double seconds = static_cast<double>(bytes.size() - 44) / format->byteRate;
        EXPECT_GE(seconds, 0.3);
        EXPECT_LE(seconds, 1.0);
        contents.insert(bytes);
    }
    EXPECT_EQ(contents.size(), kDefaultNames.size()) << "every sound differs";
    EXPECT_EQ(std::distance(fs::directory_iterator(media), fs::directory_iterator()), 12)
        << "no temporary file is left behind";
}

TEST_F(DefaultSounds, LeaveWhatIsThereAlone)
{
    const fs::path media = plat::windowsDir() / "media";
    writeFile(media / "05JAM.WAV", "the user's own jam sound");
    ::chmod((media / "05JAM.WAV").c_str(), 0644);
    fs::create_symlink(root.path() / "nowhere", media / "01READY.WAV");  // not followed, not replaced

    installDefaultSounds();

    EXPECT_EQ(readFile(media / "05JAM.WAV"), "the user's own jam sound");
    struct stat info {};
    ASSERT_EQ(::stat((media / "05JAM.WAV").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0644u);
    EXPECT_TRUE(fs::is_symlink(media / "01READY.WAV"));
    EXPECT_FALSE(fs::exists(root.path() / "nowhere"));
    EXPECT_TRUE(parse(readFile(media / "02STOP.WAV")));

    // A second install changes nothing.
    const std::string stop = readFile(media / "02STOP.WAV");
    writeFile(media / "02STOP.WAV", "changed by the user");
    installDefaultSounds();
    EXPECT_EQ(readFile(media / "02STOP.WAV"), "changed by the user");
}

TEST_F(DefaultSounds, MakeTheMediaFolder)
{
    const fs::path media = plat::windowsDir() / "media";
    fs::remove_all(media);
    installDefaultSounds();
    for (const auto& name : kDefaultNames) EXPECT_TRUE(fs::is_regular_file(media / name)) << name;
}

// ---- The desktop sound output --------------------------------------------------------------------

// Runs the event loop until `condition` holds or a generous bound passes.
bool processUntil(const std::function<bool()>& condition)
{
    return testsupport::waitUntil([&] {
        QCoreApplication::processEvents();
        return condition();
    });
}

class DesktopSound : public testsupport::RootTest {
protected:
    void SetUp() override
    {
        sound->onFinished([this] { ++ends; });
    }

    std::unique_ptr<Sound> sound = makeDesktopSound();
    int ends = 0;
};

TEST_F(DesktopSound, PlaysNothingForNoFileOrAFileThatIsNoSound)
{
    writeFile(root.path() / "text.wav", "not a sound at all");
    writeFile(root.path() / "silent.wav", wave(0, 22050, 16));
    for (const std::string& path : {std::string(), (root.path() / "missing.wav").string(),
                                    (root.path() / "text.wav").string(), (root.path() / "silent.wav").string()}) {
        EXPECT_FALSE(sound->play(path)) << path;
        EXPECT_FALSE(sound->playing());
    }
    sound->stop();
    QCoreApplication::processEvents();
    EXPECT_EQ(ends, 0) << "nothing played, so nothing ended";
}

TEST_F(DesktopSound, APlayEndsOnceWithOrWithoutASoundDevice)
{
    installDefaultSounds();
    const std::string ready = (plat::windowsDir() / "media" / "01READY.WAV").string();
    if (!sound->play(ready)) {
        // No device here: nothing plays and nothing will be reported.
        EXPECT_FALSE(sound->playing());
        QCoreApplication::processEvents();
        EXPECT_EQ(ends, 0);
        return;
    }
    EXPECT_TRUE(sound->playing());
    ASSERT_TRUE(processUntil([&] { return ends > 0; }));
    EXPECT_FALSE(sound->playing());
    QCoreApplication::processEvents();
    EXPECT_EQ(ends, 1);
}

TEST_F(DesktopSound, ANewPlayEndsTheRunningOne)
{
    installDefaultSounds();
    const fs::path media = plat::windowsDir() / "media";
    if (!sound->play((media / "12ERROR.WAV").string())) GTEST_SKIP() << "no sound device on this machine";
    ASSERT_TRUE(sound->play((media / "01READY.WAV").string()));
    EXPECT_EQ(ends, 1) << "the first play's end is reported when the second starts";
    sound->stop();
    EXPECT_EQ(ends, 2);
    EXPECT_FALSE(sound->playing());
    QCoreApplication::processEvents();
    EXPECT_EQ(ends, 2);
}

TEST_F(DesktopSound, AWaveFileTheOutputCannotTakeIsRefusedOrEndsAtOnce)
{
    // A compressed format with a header of the right shape: the reader takes it, the output may not.
    const fs::path file = root.path() / "adpcm.wav";
    writeFile(file, riff(chunk("fmt ", fmtBody(1, 22050, 4, 2)) + chunk("data", std::string(512, '\x11'))));
    if (sound->play(file.string())) {
        ASSERT_TRUE(processUntil([&] { return ends > 0; }));
        EXPECT_FALSE(sound->playing());
    }
    QCoreApplication::processEvents();
    EXPECT_LE(ends, 1);
    EXPECT_FALSE(sound->playing());
}

TEST_F(DesktopSound, TheEndNoticeMayStartTheNextPlay)
{
    installDefaultSounds();
    const fs::path media = plat::windowsDir() / "media";
    if (!sound->play((media / "12ERROR.WAV").string())) GTEST_SKIP() << "no sound device on this machine";
    bool restarted = false;
    sound->onFinished([&] {
        ++ends;
        if (ends == 1) restarted = sound->play((media / "02STOP.WAV").string());
    });
    sound->stop();
    EXPECT_EQ(ends, 1);
    EXPECT_TRUE(restarted);
    EXPECT_TRUE(sound->playing());
    ASSERT_TRUE(processUntil([&] { return ends == 2; }));
    EXPECT_FALSE(sound->playing());
}

}  // namespace
