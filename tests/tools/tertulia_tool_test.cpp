// Runs the built tertulia-tool as a separate process and checks its exact bytes and statuses.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "protocol/transcript_rendering.h"
#include "tests/support/command_run.h"
#include "tests/support/temporary_directory.h"

extern char** environ;

namespace {

using Outcome = tertulia::testing::CommandRun;

// The exact status and bytes a run must give.
void ExpectOutcome(const Outcome& outcome, int status, const std::string& out,
                   const std::string& err) {
    EXPECT_EQ(outcome.status, status);
    EXPECT_EQ(outcome.out, out);
    EXPECT_EQ(outcome.err, err);
}

void WriteFile(const std::string& name, const std::string& bytes) {
    std::ofstream(name, std::ios::binary | std::ios::trunc) << bytes;
}

class ToolTest : public testing::Test {
  protected:
    // Runs `program` (searched in PATH unless it holds a "/") with `input` as standard input;
    // `extraEnvironment` entries ("NAME=value") come before the inherited ones.
    Outcome RunProgram(const std::string& program, const std::vector<std::string>& args,
                       const std::string& input,
                       const std::vector<std::string>& extraEnvironment = {}) {
        WriteFile(dir_ + "/stdin", input);
        const int in = ::open((dir_ + "/stdin").c_str(), O_RDONLY | O_CLOEXEC);
        const pid_t pid = Start(program, args, in, extraEnvironment);
        ::close(in);
        return Collect(pid);
    }

    // Runs the tool with its standard input a pipe into which `pieces` are written one after
    // the other, with a pause between them so that the tool reads them apart.
    Outcome RunToolThroughPipe(const std::vector<std::string>& args,
                               const std::vector<std::string>& pieces) {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0) return {};
        const pid_t pid = Start(TERTULIA_TOOL_PATH, args, fds[0]);
        ::close(fds[0]);
        const auto previous = std::signal(SIGPIPE, SIG_IGN);
        for (const std::string& piece : pieces) {
            for (std::size_t at = 0; at < piece.size();) {
                const ssize_t n = ::write(fds[1], piece.data() + at, piece.size() - at);
                if (n <= 0) break;
                at += static_cast<std::size_t>(n);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        ::close(fds[1]);
        std::signal(SIGPIPE, previous);
        return Collect(pid);
    }

    Outcome RunTool(const std::vector<std::string>& args, const std::string& input = "",
                    const std::vector<std::string>& extraEnvironment = {}) {
        return RunProgram(TERTULIA_TOOL_PATH, args, input, extraEnvironment);
    }

    tertulia::testing::TemporaryDirectory temporary_{"tertulia-tool-test"};
    const std::string dir_ = temporary_.path();

  private:
    // Starts `program` with standard input from the descriptor `input` and its outputs into
    // "stdout" and "stderr" of dir_.
    pid_t Start(const std::string& program, const std::vector<std::string>& args, int input,
                const std::vector<std::string>& extraEnvironment = {}) {
        const std::string out = dir_ + "/stdout", err = dir_ + "/stderr";
        std::vector<char*> argv{const_cast<char*>(program.c_str())};
        for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        std::vector<char*> envp;
        for (const std::string& entry : extraEnvironment)
            envp.push_back(const_cast<char*>(entry.c_str()));
        for (char** entry = environ; *entry != nullptr; ++entry) envp.push_back(*entry);
        envp.push_back(nullptr);
        const pid_t pid = ::fork();
        if (pid == 0) {
            ::dup2(input, 0);
            ::dup2(::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), 1);
            ::dup2(::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), 2);
            ::execvpe(program.c_str(), argv.data(), envp.data());
            ::_exit(127);
        }
        return pid;
    }

    // What the child `pid` left in dir_'s "stdout" and "stderr", once it has ended.
    Outcome Collect(pid_t pid) {
        Outcome outcome;
        int status = 0;
        if (pid > 0 && ::waitpid(pid, &status, 0) == pid && WIFEXITED(status))
            outcome.status = WEXITSTATUS(status);
        outcome.out = tertulia::testing::ReadWholeFile(dir_ + "/stdout");
        outcome.err = tertulia::testing::ReadWholeFile(dir_ + "/stderr");
        return outcome;
    }
};

struct Row {
    const char* name;
    std::vector<std::string> args;
    std::string input;
    int status;
    std::string out;
    std::string err;
};

void PrintTo(const Row& row, std::ostream* os) {
    *os << row.name;
}

class ToolContractTest : public ToolTest, public testing::WithParamInterface<Row> {};

TEST_P(ToolContractTest, ExactOutputAndStatus) {
    const Row& row = GetParam();
    ExpectOutcome(RunTool(row.args, row.input), row.status, row.out, row.err);
}

INSTANTIATE_TEST_SUITE_P(
    Subcommands, ToolContractTest,
    testing::Values(
        Row{"md5_of_text", {"md5", "-s", "abc"}, "", 0, "900150983CD24FB0D6963F7D28E17F72\n", ""},
        Row{"md5_of_empty_text",
            {"md5", "-s", ""},
            "",
            0,
            "D41D8CD98F00B204E9800998ECF8427E\n",
            ""},
        Row{"md5_of_stdin", {"md5"}, "abc", 0, "900150983CD24FB0D6963F7D28E17F72\n", ""},
        Row{"md5_missing_file",
            {"md5", "/nonexistent/x"},
            "",
            1,
            "",
            "Cannot open file \"/nonexistent/x\". No such file or directory\n"},
        Row{"render_transcript",
            {"render"},
            "<b>Ana</b>: hola<br>adi&oacute;s &amp;lt;3\n",
            0,
            "Ana: hola\r\nadi\xF3s <3\r\n",
            ""},
        Row{"render_bytes_pass",
            {"render"},
            std::string("a\0\xFF", 3),
            0,
            std::string("a\0\xFF", 3),
            ""},
        Row{"render_error_reply", {"render"}, "ERROR.Sesion\n", 3, "", "ERROR.Sesion\n"},
        Row{"render_empty_reply", {"render"}, "", 0, "", ""},
        Row{"encode_line",
            {"encode"},
            "Hola, \xBFqu\xE9 tal?\n",
            0,
            "Hola%2C%20%BFqu%E9%20tal%3F",
            ""},
        Row{"encode_euro_and_symbols_naming_dropped",
            {"encode"},
            "\xA1\x80"
            "5 \xD7 2;'\r\n",
            0,
            "%A1%805%20%D7%202",
            "No se enviaron los caracteres: ; '\n"},
        Row{"encode_names_controls_once",
            {"encode"},
            "a\tb\x81'",
            0,
            "ab",
            "No se enviaron los caracteres: ' (caracteres de control)\n"},
        Row{"login_ok", {"reply", "login"}, "OK=a=b", 0, "ok\na=b\n", ""},
        Row{"login_ok_without_id", {"reply", "login"}, "OK", 0, "ok\n\n", ""},
        Row{"login_error", {"reply", "login"}, "ERRORx", 0, "error\n", ""},
        Row{"login_refused", {"reply", "login"}, "ok=a", 0, "refused\n", ""},
        Row{"news_list_stops",
            {"reply", "news"},
            "OK,5=Ana|7|z=y|9=Eva|",
            0,
            "list\n5\tAna\n7\t\nstop\n",
            ""},
        Row{"news_duplicates_kept",
            {"reply", "news"},
            "OK,5=Ana|5=Eva|",
            0,
            "list\n5\tAna\n5\tEva\n",
            ""},
        Row{"news_hex_and_spaces",
            {"reply", "news"},
            "OK x,  $1F=A|-0x10=B|",
            0,
            "list\n31\tA\n-16\tB\n",
            ""},
        Row{"news_without_comma", {"reply", "news"}, "OK", 0, "list\n", ""},
        Row{"news_error_status", {"reply", "news"}, "ERROR.x", 0, "error-status\n", ""},
        Row{"news_error", {"reply", "news"}, "ERRORx", 0, "error\n", ""},
        Row{"news_other", {"reply", "news"}, "", 0, "login\n", ""},
        Row{"close_ok", {"reply", "close"}, "OK", 0, "ok\n", ""},
        Row{"close_error", {"reply", "close"}, "ERROR.No", 0, "error\n", ""},
        Row{"update_outdated",
            {"reply", "update"},
            "DESACTUALIZADA.0A1B,http://h/n.exe",
            0,
            "outdated\t0A1B\thttp://h/n.exe\n",
            ""},
        Row{"update_current", {"reply", "update"}, "ACTUALIZADA.", 0, "current\n", ""}),
    [](const testing::TestParamInfo<Row>& info) { return std::string(info.param.name); });

TEST_F(ToolTest, UsageErrorsExitTwoWithUsageText) {
    const std::vector<std::vector<std::string>> cases = {{},
                                                         {"bogus"},
                                                         {"md5", "-s"},
                                                         {"md5", "a", "b"},
                                                         {"render", "x"},
                                                         {"encode", "x"},
                                                         {"reply"},
                                                         {"reply", "chat"},
                                                         {"reply", "news", "x"},
                                                         {"tempfile", "x"}};
    for (const auto& args : cases) {
        const Outcome outcome = RunTool(args);
        EXPECT_EQ(outcome.status, 2) << testing::PrintToString(args);
        EXPECT_EQ(outcome.out, "");
        EXPECT_EQ(outcome.err.rfind("usage: tertulia-tool", 0), 0u) << outcome.err;
    }
}

TEST_F(ToolTest, Md5AgreesWithMd5sumOnEverySizeUpTo200) {
    std::string bytes;
    for (int i = 0; i < 200; ++i) bytes += static_cast<char>((i * 151 + 7) & 0xFF);
    std::vector<std::string> files;
    for (std::size_t size = 0; size <= 200; ++size) {
        files.push_back(dir_ + "/data" + std::to_string(size));
        WriteFile(files.back(), bytes.substr(0, size));
    }
    const Outcome reference = RunProgram("md5sum", files, "");
    ASSERT_EQ(reference.status, 0);
    std::istringstream lines(reference.out);
    for (std::size_t size = 0; size <= 200; ++size) {
        std::string line;
        ASSERT_TRUE(std::getline(lines, line));
        std::string expected = line.substr(0, 32);
        for (char& c : expected) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        expected += "\n";
        EXPECT_EQ(RunTool({"md5", files[size]}).out, expected) << size;
        // Standard input too, at the block edges.
        if (size % 64 == 0 || size % 64 == 55 || size % 64 == 56) {
            EXPECT_EQ(RunTool({"md5"}, bytes.substr(0, size)).out, expected) << size;
        }
    }
}

TEST_F(ToolTest, Md5OfLargeInputReadInBlocksAgreesWithMd5sum) {
    std::string bytes(1024 * 1024 + 3, '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<char>(i * 2654435761u >> 13);
    const std::string file = dir_ + "/large";
    WriteFile(file, bytes);
    const Outcome reference = RunProgram("md5sum", {file}, "");
    ASSERT_EQ(reference.status, 0);
    std::string expected = reference.out.substr(0, 32);
    for (char& c : expected) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    expected += "\n";
    EXPECT_EQ(RunTool({"md5", file}).out, expected);
    EXPECT_EQ(RunToolThroughPipe({"md5"}, {bytes.substr(0, 70000), bytes.substr(70000)}).out,
              expected);
}

struct PipedRow {
    const char* name;
    std::vector<std::string> pieces;
    int status;
    std::string out;
    std::string err;
};

void PrintTo(const PipedRow& row, std::ostream* os) {
    *os << row.name;
}

class RenderPipeTest : public ToolTest, public testing::WithParamInterface<PipedRow> {};

// The error-reply rule is decided on the first five bytes, however the pipe delivers them.
TEST_P(RenderPipeTest, ErrorReplyDecidedOnTheFirstBytes) {
    const PipedRow& row = GetParam();
    ExpectOutcome(RunToolThroughPipe({"render"}, row.pieces), row.status, row.out, row.err);
}

const std::string kLongErrorReply = "ERROR." + std::string(200000, 'x') + "<br>&amp;";

INSTANTIATE_TEST_SUITE_P(
    Pieces, RenderPipeTest,
    testing::Values(
        PipedRow{"error_word_split", {"ERR", "OR.Sesion<br>"}, 3, "", "ERROR.Sesion<br>"},
        PipedRow{"error_word_byte_by_byte", {"E", "R", "R", "O", "R"}, 3, "", "ERROR"},
        PipedRow{"error_reply_longer_than_a_block",
                 {kLongErrorReply.substr(0, 3), kLongErrorReply.substr(3)},
                 3,
                 "",
                 kLongErrorReply},
        PipedRow{"differs_after_three_bytes", {"ERR", "x<br>"}, 0, "ERRx\r\n", ""},
        PipedRow{"shorter_than_the_word", {"ERR", "O"}, 0, "ERRO", ""},
        PipedRow{"lower_case_word", {"Error"}, 0, "Error", ""},
        PipedRow{"space_before_the_word", {" ", "ERROR"}, 0, " ERROR", ""},
        PipedRow{"empty_reply", {}, 0, "", ""}),
    [](const testing::TestParamInfo<PipedRow>& info) { return std::string(info.param.name); });

TEST_F(ToolTest, RenderStreamsALongReplyCutAnywhere) {
    std::string reply;
    for (int line = 0; reply.size() < 300000; ++line)
        reply += "<b>Ana (" + std::to_string(line) + ")</b>: qu&eacute; &amp;lt;3 &Ntilde;\n<br>";
    // Pieces of uneven sizes, so that tags, entities and CR LF pairs fall across reads.
    std::vector<std::string> pieces;
    for (std::size_t at = 0, size = 1; at < reply.size(); at += size, size = size * 7 % 65599)
        pieces.push_back(reply.substr(at, size));
    const Outcome outcome = RunToolThroughPipe({"render"}, pieces);
    EXPECT_EQ(outcome.status, 0);
    EXPECT_EQ(outcome.err, "");
    EXPECT_TRUE(outcome.out == tertulia::RenderizarTranscripcion(reply));
}

TEST_F(ToolTest, TempfileCreatesAnOwnerOnlyEmptyFile) {
    const Outcome outcome = RunTool({"tempfile"}, "", {"TMPDIR=" + dir_});
    ASSERT_EQ(outcome.status, 0);
    EXPECT_EQ(outcome.err, "");
    ASSERT_EQ(outcome.out.rfind(dir_ + "/~tm", 0), 0u) << outcome.out;
    ASSERT_EQ(outcome.out.back(), '\n');
    struct stat info {};
    ASSERT_EQ(::stat(outcome.out.substr(0, outcome.out.size() - 1).c_str(), &info), 0);
    EXPECT_EQ(info.st_size, 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
}

TEST_F(ToolTest, TempfileFailureReportsTheMessage) {
    ExpectOutcome(RunTool({"tempfile"}, "", {"TMPDIR=" + dir_ + "/missing"}), 1, "",
                  "Error al crear archivo temporal\n");
}

}  // namespace
