// The bundle's Resources folder, its children, and which files open as sounds.
#include "platform/Exceptions.h"
#include "platform/FolderItem.h"
#include "platform/Sound.h"
#include "platform/StackGuard.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

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
    Bundle() {
        fs::create_directories(root_.Path() / "bin");
        WriteFile(root_.Path() / "bin" / "zelim", "");
        platform::SetExecutablePathForTesting(root_.Path() / "bin" / "zelim");
    }
    ~Bundle() override {
        platform::SetExecutablePathForTesting({});
        platform::ResetStackCheckForTesting();
    }
    fs::path Root() const { return root_.Path(); }
    fs::path Resources() const { return root_.Path() / "Resources"; }

private:
    testsupport::TempDir root_;
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

} // namespace
