// The bundle's Resources folder, its children, and which files open as sounds.
#include "platform/Diagnostics.h"
#include "platform/Exceptions.h"
#include "platform/FolderItem.h"
#include "platform/Sound.h"
#include "platform/StackGuard.h"
#include "support/TempBundle.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

void WriteFile(const fs::path& file, const std::string& bytes) {
    std::ofstream out(file, std::ios::binary);
    out << bytes;
}

std::string Head(const fs::path& file, std::size_t bytes) {
    std::ifstream in(file, std::ios::binary);
    std::string head(bytes, '\0');
    in.read(head.data(), static_cast<std::streamsize>(bytes));
    head.resize(static_cast<std::size_t>(in.gcount()));
    return head;
}

// A bundle laid out as installed: T/bin/zelim and T/Resources.
class Bundle : public ::testing::Test {
protected:
    ~Bundle() override { platform::ResetStackCheckForTesting(); }
    fs::path Root() const { return bundle_.Root(); }
    fs::path Resources() const { return bundle_.ResourcesFolder(); }

private:
    testsupport::TempBundle bundle_{testsupport::TempBundle::Resources::Missing};
};

TEST_F(Bundle, ResourcesIsTheFolderBesideTheExecutablesFolder) {
    fs::create_directories(Resources());
    const auto resources = platform::GetApplicationBundleResources();
    ASSERT_NE(resources, nullptr);
    EXPECT_TRUE(fs::equivalent(resources->Path(), Resources()));
}

TEST_F(Bundle, NoResourcesFolderGivesNil) {
    EXPECT_EQ(platform::GetApplicationBundleResources(), nullptr);
    // Resources beside the executable itself is not the bundle's.
    fs::create_directories(Root() / "bin" / "Resources");
    EXPECT_EQ(platform::GetApplicationBundleResources(), nullptr);
    // A file of that name is no folder.
    WriteFile(Resources(), "not a folder");
    EXPECT_EQ(platform::GetApplicationBundleResources(), nullptr);
}

TEST_F(Bundle, ChildIsNilUnlessTheFileExists) {
    fs::create_directories(Resources());
    WriteFile(Resources() / "present.mp3", "x");
    fs::create_symlink(Resources() / "nowhere.mp3", Resources() / "dangling.mp3");
    WriteFile(Root() / "outside.mp3", "x");
    const platform::FolderItem folder(Resources());

    const auto present = folder.Child("present.mp3");
    ASSERT_NE(present, nullptr);
    EXPECT_EQ(present->Path(), Resources() / "present.mp3");

    for (const char* name :
         {"missing.mp3", "Present.mp3", "", ".", "..", "../outside.mp3", "dangling.mp3"}) {
        EXPECT_EQ(folder.Child(name), nullptr) << '"' << name << '"';
    }
    // Not following links, the dangling link itself exists.
    const auto link = folder.Child("dangling.mp3", false);
    ASSERT_NE(link, nullptr);
    EXPECT_EQ(link->Path(), Resources() / "dangling.mp3");
}

TEST_F(Bundle, FollowingALinkGivesItsTarget) {
    fs::create_directories(Resources());
    WriteFile(Root() / "track.mp3", "x");
    fs::create_symlink(Root() / "track.mp3", Resources() / "alias.mp3");
    const platform::FolderItem folder(Resources());

    const auto followed = folder.Child("alias.mp3", true);
    ASSERT_NE(followed, nullptr);
    EXPECT_EQ(followed->Path(), fs::canonical(Root() / "track.mp3"));
    const auto notFollowed = folder.Child("alias.mp3", false);
    ASSERT_NE(notFollowed, nullptr);
    EXPECT_EQ(notFollowed->Path(), Resources() / "alias.mp3");
}

// Sound fixtures made once with SoX: a short MP3 and a short WAV.
class SoundFiles : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dir_ = std::make_unique<testsupport::TempDir>();
        testsupport::MakeToneMp3(Mp3(), 0.3, 440);
        testsupport::Shell("sox -D -R -n -r 44100 -c 1 -b 16 '" + Wav().string() +
                           "' synth 0.3 sine 440 gain -12");
    }
    static void TearDownTestSuite() { dir_.reset(); }
    ~SoundFiles() override { platform::ResetStackCheckForTesting(); }

    static fs::path Dir() { return dir_->Path(); }
    static fs::path Mp3() { return Dir() / "tone.mp3"; }
    static fs::path Wav() { return Dir() / "tone.wav"; }

private:
    static inline std::unique_ptr<testsupport::TempDir> dir_;
};

TEST_F(SoundFiles, RealMp3AndWavOpenAsSounds) {
    for (const fs::path& file : {Mp3(), Wav()}) {
        const platform::FolderItem item(file);
        const auto sound = item.OpenAsSound();
        ASSERT_NE(sound, nullptr) << file;
        EXPECT_EQ(sound->File(), file);
        EXPECT_FALSE(sound->IsPlaying()) << "a sound that was never played is playing";
    }
}

struct Undecodable {
    const char* name;
    std::function<std::string()> bytes;
};

TEST_F(SoundFiles, UndecodableFilesGiveNil) {
    const std::vector<Undecodable> cases = {
        {"text.mp3", [] { return std::string("just some words, no sound at all\n"); }},
        {"empty.wav", [] { return std::string(); }},
        // Cut inside the first MP3 frame.
        {"cut.mp3", [] { return Head(Mp3(), 200); }},
        // Cut inside the WAV's format chunk.
        {"cut-header.wav", [] { return Head(Wav(), 20); }},
        // A whole header whose data are missing: nothing to play.
        {"header-only.wav", [] { return Head(Wav(), 44); }},
    };
    for (const auto& c : cases) {
        const fs::path file = Dir() / c.name;
        WriteFile(file, c.bytes());
        EXPECT_EQ(platform::FolderItem(file).OpenAsSound(), nullptr) << c.name;
    }
    EXPECT_EQ(platform::FolderItem(Dir() / "absent.mp3").OpenAsSound(), nullptr);
}

TEST_F(SoundFiles, EveryOperationChecksTheStack) {
    const auto sound = platform::Sound::Open(Wav());
    ASSERT_NE(sound, nullptr);
    const platform::FolderItem folder(Dir());
    const std::vector<std::pair<const char*, std::function<void()>>> operations = {
        {"GetApplicationBundleResources", [] { platform::GetApplicationBundleResources(); }},
        {"FolderItem", [] { platform::FolderItem item("/"); }},
        {"Child", [&] { folder.Child("tone.wav"); }},
        {"OpenAsSound", [] { platform::FolderItem(Wav()).OpenAsSound(); }},
        {"Sound::Open", [] { platform::Sound::Open(Wav()); }},
        {"IsPlaying", [&] { sound->IsPlaying(); }},
        {"File", [&] { sound->File(); }},
        {"Play", [&] { sound->Play(); }},
    };
    for (const auto& [name, operation] : operations) {
        platform::FailStackCheckAfter(0);
        EXPECT_THROW(operation(), platform::StackOverflowException) << name;
        platform::ResetStackCheckForTesting();
    }
    EXPECT_FALSE(sound->IsPlaying()) << "Play went on after its stack check raised";
}

// A file that cannot play is said once on stderr, in a user's words that name it and say
// why; no library adds a line of its own (libmpg123 complains about random bytes unless
// it is kept quiet).
class UnplayableFiles : public SoundFiles {
protected:
    // What stderr got while `file` was asked to open as a sound, twice.
    static std::string StderrOfTwoOpens(const fs::path& file) {
        testing::internal::CaptureStderr();
        const auto first = platform::FolderItem(file).OpenAsSound();
        const auto second = platform::FolderItem(file).OpenAsSound();
        const std::string said = testing::internal::GetCapturedStderr();
        EXPECT_EQ(first, nullptr) << file;
        EXPECT_EQ(second, nullptr) << file;
        return said;
    }
};

std::string RandomBytes(std::size_t count, unsigned seed) {
    std::string bytes(count, '\0');
    unsigned state = seed;
    for (auto& b : bytes) {
        state = state * 1103515245u + 12345u;
        b = static_cast<char>(state >> 23);
    }
    return bytes;
}

TEST_F(UnplayableFiles, EachIsSaidOnceWithItsReason) {
    const struct {
        const char* name;
        std::function<void(const fs::path&)> make;
        const char* reason;
    } cases[] = {
        {"missing.mp3", [](const fs::path&) {}, "the file is missing"},
        {"empty.mp3", [](const fs::path& f) { WriteFile(f, ""); }, "the file is empty"},
        {"folder.mp3", [](const fs::path& f) { fs::create_directory(f); }, "it is not a file"},
        {"random.mp3", [](const fs::path& f) { WriteFile(f, RandomBytes(65536, 7)); },
         "it is not a sound file that Zelim can decode"},
        {"short-random.mp3", [](const fs::path& f) { WriteFile(f, RandomBytes(700, 11)); },
         "it is not a sound file that Zelim can decode"},
        {"text.wav", [](const fs::path& f) { WriteFile(f, "no sound here\n"); },
         "it is not a sound file that Zelim can decode"},
        {"cut.mp3", [](const fs::path& f) { WriteFile(f, Head(Mp3(), 200)); },
         "it is not a sound file that Zelim can decode"},
    };
    for (const auto& c : cases) {
        const fs::path file = Dir() / c.name;
        c.make(file);
        EXPECT_EQ(StderrOfTwoOpens(file),
                  "zelim: cannot play " + file.string() + ": " + c.reason + "\n")
            << c.name;
    }
}

// Permissions do not hold for root, so the check runs as nobody in a child process.
TEST_F(UnplayableFiles, AnUnreadableFileIsSaidToBeSo) {
    testsupport::TempDir open;
    fs::permissions(open.Path(), fs::perms::all);
    const fs::path file = open.Path() / "locked.mp3";
    fs::copy_file(Mp3(), file);
    fs::permissions(file, fs::perms::none);
    const std::string expected =
        "cannot play " + file.string() + ": Zelim may not read it (permission denied)";
    std::fflush(nullptr);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) {
            _exit(3);
        }
        std::string said;
        platform::SetDiagnosticSinkForTesting([&](std::string_view line) { said += line; });
        const bool nil = platform::FolderItem(file).OpenAsSound() == nullptr;
        _exit(nil && said == expected ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "expected the line: " << expected;
}

TEST_F(Bundle, AMissingResourcesFolderIsSaidOnceNamingWhereItWasLookedFor) {
    testing::internal::CaptureStderr();
    EXPECT_EQ(platform::GetApplicationBundleResources(), nullptr);
    EXPECT_EQ(platform::GetApplicationBundleResources(), nullptr);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "zelim: no Resources folder next to " + (Root() / "bin").string() + "\n");
}

} // namespace
