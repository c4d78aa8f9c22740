#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "http/md5.h"
#include "tests/session/console_harness.h"
#include "tests/session/scripted_service.h"

namespace tertulia {
namespace {

namespace fs = std::filesystem;
using testing::ConsoleHarness;
using testing::ScriptedService;

const std::string kProgram = "#!/bin/sh\nexit 0\n";

std::vector<fs::path> FilesIn(const fs::path& directory) {
    std::vector<fs::path> files;
    for (const auto& entry : fs::directory_iterator(directory)) files.push_back(entry.path());
    return files;
}

// The start-up's update check with temporary files in a directory of the test's own and a
// starter that records what it is asked to start.
struct SelfUpdateTest : ::testing::Test {
    SelfUpdateTest() {
        fs::remove_all(tmp);
        fs::create_directories(tmp);
        const char* saved = std::getenv("TMPDIR");
        if (saved) savedTmp = saved;
        ::setenv("TMPDIR", tmp.c_str(), 1);
        harness.console.FormCreate();
    }
    ~SelfUpdateTest() override {
        savedTmp ? ::setenv("TMPDIR", savedTmp->c_str(), 1) : ::unsetenv("TMPDIR");
        fs::remove_all(tmp);
    }
    // The check announces `digest` and the download gives `program`.
    void Offer(const std::string& digest, const std::string& program) {
        server.Reply("DESACTUALIZADA." + digest + "," + server.Url() + "/gl/tertulia-2.bin");
        server.Reply(program);
    }
    void StartUp() {
        harness.console.FormShow();
        harness.view.RunPosted();
    }
    bool Start(const std::string& fileName) {
        struct stat info {};
        ::stat(fileName.c_str(), &info);
        startedModes.push_back(info.st_mode & 07777);
        started.push_back(fileName);
        return startSucceeds;
    }

    const fs::path tmp = fs::absolute("self-update-test-" + std::to_string(::getpid()));
    std::optional<std::string> savedTmp;
    ScriptedService server;
    std::vector<std::string> started;
    std::vector<mode_t> startedModes;
    bool startSucceeds = true;
    ConsoleHarness harness{server.Url(), "/nonexistent",
                           [this](const std::string& name) { return Start(name); }};
    testing::EventLog& log = harness.log;
};

TEST_F(SelfUpdateTest, AVerifiedDownloadIsMadeExecutableStartedAndEndsTheProgram) {
    Offer(Md5TextOfString(kProgram), kProgram);
    // While the download runs, the file is the owner's alone and not executable.
    std::vector<mode_t> modesDuringDownload;
    harness.view.onStatus = [&] {
        for (const auto& file : FilesIn(tmp)) {
            struct stat info {};
            ::stat(file.c_str(), &info);
            modesDuringDownload.push_back(info.st_mode & 07777);
        }
    };
    StartUp();
    EXPECT_EQ(server.Targets()[1], "/gl/tertulia-2.bin");
    EXPECT_FALSE(modesDuringDownload.empty());
    for (const mode_t mode : modesDuringDownload) EXPECT_EQ(mode, 0600u);
    ASSERT_EQ(started.size(), 1u);
    EXPECT_TRUE(started[0].starts_with((tmp / "~tm").string())) << started[0];
    EXPECT_TRUE(started[0].ends_with(".exe")) << started[0];
    EXPECT_EQ(startedModes[0], 0700u);
    EXPECT_EQ(FilesIn(tmp), std::vector<fs::path>{started[0]});
    EXPECT_EQ(harness.view.quits, 1);
    EXPECT_EQ(log,
              (testing::EventLog{"panel pnTransfer", "repaint",
                                 "confirm Hay una Actualizacion Disponible desea Actualizar?"}));
}

TEST_F(SelfUpdateTest, ADigestMismatchDeletesTheDownloadAndStartsNothing) {
    // Only the letter case differs: still a mismatch.
    std::string lower = Md5TextOfString(kProgram);
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    ASSERT_NE(lower, Md5TextOfString(kProgram));
    Offer(lower, kProgram);
    StartUp();
    EXPECT_TRUE(started.empty());
    EXPECT_TRUE(FilesIn(tmp).empty());
    EXPECT_EQ(log.back(),
              "error El Archivo de Actualizacion no se Descargo Adecuadamente Intente de Nuevo");
    EXPECT_EQ(harness.view.panel, Panel::pnTransfer);
}

TEST_F(SelfUpdateTest, ADigestThatCannotBeComputedNeverMatchesAnEmptyOne) {
    Offer("", kProgram);
    // When the transfer ends, the download's name is taken by something that cannot be read.
    harness.view.onStatus = [&] {
        if (harness.view.status != "Ok") return;
        for (const auto& file : FilesIn(tmp)) {
            fs::remove(file);
            fs::create_directory(file);
        }
    };
    StartUp();
    EXPECT_TRUE(started.empty());
    EXPECT_EQ(log.back(),
              "error El Archivo de Actualizacion no se Descargo Adecuadamente Intente de Nuevo");
    EXPECT_EQ(harness.view.quits, 0);
}

TEST_F(SelfUpdateTest, AProgramThatCannotBeStartedIsDeletedWithAWarning) {
    startSucceeds = false;
    Offer(Md5TextOfString(kProgram), kProgram);
    StartUp();
    EXPECT_EQ(started.size(), 1u);
    EXPECT_TRUE(FilesIn(tmp).empty());
    EXPECT_EQ(log.back(), "warning Error: No se pudo ejecutar la aplicaci\xF3n");
    EXPECT_EQ(harness.view.panel, Panel::pnTransfer);
    EXPECT_EQ(harness.view.quits, 0);
}

TEST_F(SelfUpdateTest, AFailedMoveStartsNothingAndKeepsTheDownload) {
    Offer(Md5TextOfString(kProgram), kProgram);
    // Something else already holds the ".exe" name while the download runs.
    fs::path occupied;
    fs::perms occupiedMode{};
    harness.view.onStatus = [&] {
        if (!occupied.empty()) return;
        for (const auto& file : FilesIn(tmp)) occupied = file.string() + ".exe";
        fs::create_directories(occupied / "inside");
        occupiedMode = fs::status(occupied).permissions();
    };
    StartUp();
    EXPECT_TRUE(started.empty()) << "never what stands under the name of the program";
    EXPECT_EQ(log.back(), "warning Error: No se pudo ejecutar la aplicaci\xF3n");
    EXPECT_EQ(harness.view.quits, 0);
    EXPECT_EQ(harness.view.panel, Panel::pnTransfer);
    EXPECT_EQ(FilesIn(tmp).size(), 2u) << "the download under its temporary name stays";
    EXPECT_TRUE(fs::exists(occupied / "inside"));
    EXPECT_EQ(fs::status(occupied).permissions(), occupiedMode);
}

TEST_F(SelfUpdateTest, OutcomesThatEndWithoutADownload) {
    struct Row {
        const char* proves;
        std::function<void()> script;
        bool agree;
        std::string lastEvent;
        Panel panel;
    };
    const Row rows[] = {
        {"up to date", [&] { server.Reply("ACTUALIZADA."); }, true, "panel pnLogin",
         Panel::pnLogin},
        {"an empty reply is up to date", [&] { server.Reply(""); }, true, "panel pnLogin",
         Panel::pnLogin},
        {"declined", [&] { server.Reply("DESACTUALIZADA.AB,http://127.0.0.1:9/x"); }, false,
         "confirm Hay una Actualizacion Disponible desea Actualizar?", Panel::pnTransfer},
    };
    for (const Row& row : rows) {
        ConsoleHarness fresh(server.Url());
        row.script();
        fresh.view.confirmAnswer = row.agree;
        fresh.console.FormShow();
        fresh.view.RunPosted();
        EXPECT_EQ(fresh.log.back(), row.lastEvent) << row.proves;
        EXPECT_EQ(fresh.view.panel, row.panel) << row.proves;
        EXPECT_TRUE(FilesIn(tmp).empty()) << row.proves;
    }
}

TEST_F(SelfUpdateTest, AFailedCheckShowsItsMessageBeforeTheLoginPanel) {
    server.ReplyRaw("HTTP/1.1 500 Internal Server Error\r\nContent-Length: 0\r\n\r\n");
    StartUp();
    EXPECT_EQ(log, (testing::EventLog{"panel pnTransfer", "repaint",
                                      "error ERROR : \nHTTP/1.1 500 Internal Server Error",
                                      "panel pnLogin"}));
}

TEST_F(SelfUpdateTest, AFailedDownloadKeepsWhatArrivedAndTheTransferPanel) {
    server.Reply("DESACTUALIZADA.AB," + server.Url() + "/x");
    server.ReplyRaw("HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n");
    StartUp();
    EXPECT_EQ(log.back(), "error ERROR : \nHTTP/1.1 404 Not Found");
    EXPECT_EQ(harness.view.panel, Panel::pnTransfer);
    EXPECT_EQ(FilesIn(tmp).size(), 1u);
}

TEST_F(SelfUpdateTest, NoTemporaryFileMeansAnErrorAndNoDownload) {
    ::setenv("TMPDIR", (tmp / "missing").c_str(), 1);
    server.Reply("DESACTUALIZADA.AB," + server.Url() + "/x");
    StartUp();
    EXPECT_EQ(log.back(), "error ERROR : \nError al crear archivo temporal");
    EXPECT_EQ(server.Targets().size(), 1u);
    EXPECT_EQ(harness.view.panel, Panel::pnTransfer);
}

}  // namespace
}  // namespace tertulia
