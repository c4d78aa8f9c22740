#include "session/self_update.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <filesystem>

#include "base/md5.h"
#include "http/http_client.h"
#include "tests/session/window_doubles.h"
#include "tests/support/scripted_service.h"
#include "tests/support/table_rows.h"
#include "tests/support/temporary_directory.h"

namespace tertulia {
namespace {

namespace fs = std::filesystem;
using testing::ScriptedService;

const std::string kProgram = "#!/bin/sh\nexit 0\n";

std::vector<fs::path> FilesIn(const fs::path& directory) {
    std::vector<fs::path> files;
    for (const auto& entry : fs::directory_iterator(directory)) files.push_back(entry.path());
    return files;
}

mode_t ModeOf(const fs::path& file) {
    struct stat info {};
    ::stat(file.c_str(), &info);
    return info.st_mode & 07777;
}

// The update check on its own: the program's HTTP client against the scripted server, recording
// dialogs, temporary files in a directory of the test's own and a starter that records what it
// is asked to start.
struct SelfUpdateTest : ::testing::Test {
    SelfUpdateTest() {
        const char* saved = std::getenv("TMPDIR");
        if (saved) savedTmp = saved;
        ::setenv("TMPDIR", tmp.c_str(), 1);
    }
    ~SelfUpdateTest() override {
        savedTmp ? ::setenv("TMPDIR", savedTmp->c_str(), 1) : ::unsetenv("TMPDIR");
    }
    // The check announces `digest` and the download gives `program`.
    void Offer(const std::string& digest, const std::string& program) {
        server.Reply("DESACTUALIZADA." + digest + "," + server.Url() + "/gl/tertulia-2.bin");
        server.Reply(program);
    }
    UpdateOutcome Check() { return VerificarActualizacion(http, dialogs, starter, server.Url()); }

    testing::TemporaryDirectory directory;
    const fs::path tmp = directory.path();
    std::optional<std::string> savedTmp;
    ScriptedService server;
    HttpClient http;
    testing::EventLog log;
    testing::RecordingConsoleView dialogs{log};
    std::vector<std::string> started;
    std::vector<mode_t> startedModes;
    bool startSucceeds = true;
    ProgramStarter starter = [this](const std::string& name) {
        startedModes.push_back(ModeOf(name));
        started.push_back(name);
        return startSucceeds;
    };
};

TEST_F(SelfUpdateTest, a_verified_download_is_made_executable_and_started) {
    Offer(Md5TextOfString(kProgram), kProgram);
    // While the download runs, the file is the owner's alone and not executable.
    std::vector<mode_t> modesDuringDownload;
    http.OnWork = [&](TWorkMode, std::int32_t) {
        for (const auto& file : FilesIn(tmp)) modesDuringDownload.push_back(ModeOf(file));
    };
    EXPECT_EQ(Check(), UpdateOutcome::Started);
    EXPECT_EQ(server.Targets(),
              (std::vector<std::string>{"/gl/chkupdate.php?accion=check&prgid=TR&ver=1&rel=1",
                                        "/gl/tertulia-2.bin"}));
    EXPECT_FALSE(modesDuringDownload.empty());
    for (const mode_t mode : modesDuringDownload) EXPECT_EQ(mode, 0600u);
    ASSERT_EQ(started.size(), 1u);
    EXPECT_TRUE(started[0].starts_with((tmp / "~tm").string())) << started[0];
    EXPECT_TRUE(started[0].ends_with(".exe")) << started[0];
    EXPECT_EQ(startedModes[0], 0700u);
    EXPECT_EQ(FilesIn(tmp), std::vector<fs::path>{started[0]});
    EXPECT_EQ(log, testing::EventLog{"confirm Hay una Actualizacion Disponible desea Actualizar?"});
}

TEST_F(SelfUpdateTest, a_digest_differing_only_in_letter_case_deletes_the_download) {
    std::string lower = Md5TextOfString(kProgram);
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    ASSERT_NE(lower, Md5TextOfString(kProgram));
    Offer(lower, kProgram);
    EXPECT_EQ(Check(), UpdateOutcome::BadDownload);
    EXPECT_TRUE(started.empty());
    EXPECT_TRUE(FilesIn(tmp).empty());
    EXPECT_EQ(log.back(),
              "error El Archivo de Actualizacion no se Descargo Adecuadamente Intente de Nuevo");
}

TEST_F(SelfUpdateTest, a_digest_that_cannot_be_computed_never_matches_an_empty_one) {
    Offer("", kProgram);
    // When the transfer ends, the download's name is taken by something that cannot be read.
    http.OnWorkEnd = [&](TWorkMode) {
        for (const auto& file : FilesIn(tmp)) {
            fs::remove(file);
            fs::create_directory(file);
        }
    };
    EXPECT_EQ(Check(), UpdateOutcome::BadDownload);
    EXPECT_TRUE(started.empty());
    EXPECT_EQ(log.back(),
              "error El Archivo de Actualizacion no se Descargo Adecuadamente Intente de Nuevo");
}

TEST_F(SelfUpdateTest, a_program_that_cannot_be_started_is_deleted_with_a_warning) {
    startSucceeds = false;
    Offer(Md5TextOfString(kProgram), kProgram);
    EXPECT_EQ(Check(), UpdateOutcome::NotStarted);
    EXPECT_EQ(started.size(), 1u);
    EXPECT_TRUE(FilesIn(tmp).empty());
    EXPECT_EQ(log.back(), "warning Error: No se pudo ejecutar la aplicaci\xF3n");
}

TEST_F(SelfUpdateTest, a_failed_move_starts_nothing_and_keeps_the_download) {
    Offer(Md5TextOfString(kProgram), kProgram);
    // Something else already holds the ".exe" name while the download runs.
    fs::path occupied;
    fs::perms occupiedMode{};
    http.OnWork = [&](TWorkMode, std::int32_t) {
        if (!occupied.empty()) return;
        for (const auto& file : FilesIn(tmp)) occupied = file.string() + ".exe";
        fs::create_directories(occupied / "inside");
        occupiedMode = fs::status(occupied).permissions();
    };
    EXPECT_EQ(Check(), UpdateOutcome::NotStarted);
    EXPECT_TRUE(started.empty()) << "never what stands under the name of the program";
    EXPECT_EQ(log.back(), "warning Error: No se pudo ejecutar la aplicaci\xF3n");
    EXPECT_EQ(FilesIn(tmp).size(), 2u) << "the download under its temporary name stays";
    EXPECT_TRUE(fs::exists(occupied / "inside"));
    EXPECT_EQ(fs::status(occupied).permissions(), occupiedMode);
}

TEST_F(SelfUpdateTest, outcomes_without_a_download) {
    struct Row {
        const char* name;
        std::string reply;
        bool agree;
        UpdateOutcome outcome;
        testing::EventLog dialogs;
    };
    const Row rows[] = {
        {"up to date", "ACTUALIZADA.", true, UpdateOutcome::UpToDate, {}},
        {"an empty reply is up to date", "", true, UpdateOutcome::UpToDate, {}},
        {"declined",
         "DESACTUALIZADA.AB,http://127.0.0.1:9/x",
         false,
         UpdateOutcome::Declined,
         {"confirm Hay una Actualizacion Disponible desea Actualizar?"}},
        {"a failed check",
         "HTTP/1.1 500 Internal Server Error\r\nContent-Length: 0\r\n\r\n",
         true,
         UpdateOutcome::CheckFailed,
         {"error ERROR : \nHTTP/1.1 500 Internal Server Error"}},
    };
    testing::ForEachRow(rows, [&](const Row& row) {
        log.clear();
        row.reply.starts_with("HTTP/") ? server.ReplyRaw(row.reply) : server.Reply(row.reply);
        dialogs.confirmAnswer = row.agree;
        EXPECT_EQ(Check(), row.outcome);
        EXPECT_EQ(log, row.dialogs);
        EXPECT_TRUE(FilesIn(tmp).empty());
    });
}

TEST_F(SelfUpdateTest, a_failed_download_keeps_what_arrived) {
    server.Reply("DESACTUALIZADA.AB," + server.Url() + "/x");
    server.ReplyRaw("HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n");
    EXPECT_EQ(Check(), UpdateOutcome::BadDownload);
    EXPECT_EQ(log.back(), "error ERROR : \nHTTP/1.1 404 Not Found");
    EXPECT_EQ(FilesIn(tmp).size(), 1u);
}

TEST_F(SelfUpdateTest, no_temporary_file_means_an_error_and_no_download) {
    ::setenv("TMPDIR", (tmp / "missing").c_str(), 1);
    server.Reply("DESACTUALIZADA.AB," + server.Url() + "/x");
    EXPECT_EQ(Check(), UpdateOutcome::BadDownload);
    EXPECT_EQ(log.back(), "error ERROR : \nError al crear archivo temporal");
    EXPECT_EQ(server.Targets().size(), 1u);
}

}  // namespace
}  // namespace tertulia
