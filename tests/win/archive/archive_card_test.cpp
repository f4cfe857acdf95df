/*
 * archive_card_test.cpp: the release archive as a Windows user gets it,
 * unpacked into an empty folder (VORLANE_ARCHIVE_DIR, prepared by
 * archive_test.sh with the rig's winscard.dll added): its files and their
 * version resources, vorlane.exe started there naming the demo card and
 * running its script, and vorlane-run.exe running demo.txt from there.
 */
#include <gtest/gtest.h>

#include <stdlib.h>

#include <set>
#include <string>

#include "tests/win/harness/card.h"
#include "tests/win/harness/files.h"
#include "tests/win/harness/frame.h"
#include "tests/win/harness/testcard.h"
#include "tests/win/harness/process.h"

namespace {

std::string archive_dir(void) {
    const char *dir = getenv("VORLANE_ARCHIVE_DIR");
    return dir ? dir : "";
}

std::set<std::string> archive_files(void) {
    std::set<std::string> names;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((archive_dir() + "\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return names;
    do {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            names.insert(found.cFileName);
    } while (FindNextFileA(search, &found));
    FindClose(search);
    return names;
}

/* "FileVersion" and the fixed file version of a program, as "a.b.c|a.b.c.d". */
std::string file_version(const std::string &path) {
    DWORD ignored = 0;
    DWORD size = GetFileVersionInfoSizeA(path.c_str(), &ignored);
    if (size == 0)
        return "<none>";
    std::string block(size, 0);
    if (!GetFileVersionInfoA(path.c_str(), 0, size, &block[0]))
        return "<unreadable>";
    char *text = 0;
    UINT length = 0;
    std::string result;
    if (VerQueryValueA(&block[0], "\\StringFileInfo\\040904B0\\FileVersion", (void **)&text,
                       &length))
        result = text;
    VS_FIXEDFILEINFO *fixed = 0;
    if (VerQueryValueA(&block[0], "\\", (void **)&fixed, &length) && fixed) {
        char numbers[64];
        snprintf(numbers, sizeof numbers, "|%u.%u.%u.%u", (unsigned)HIWORD(fixed->dwFileVersionMS),
                 (unsigned)LOWORD(fixed->dwFileVersionMS), (unsigned)HIWORD(fixed->dwFileVersionLS),
                 (unsigned)LOWORD(fixed->dwFileVersionLS));
        result += numbers;
    }
    return result;
}

class Archive : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_NE(archive_dir(), "") << "VORLANE_ARCHIVE_DIR names no folder";
        ASSERT_TRUE(testcard_remove(0)) << "the card rig is not running (scripts/rig start)";
        ASSERT_TRUE(testcard_remove(1));
        testcard_reset_state(0);
        ASSERT_TRUE(testcard_insert(0, testcard_demo_atr));
    }
    void TearDown() override {
        testcard_remove(0);
    }
};

/* Waits until the reader pane of process pid shows the ready line. */
std::string wait_for_ready_pane(DWORD pid, int ms) {
    DWORD end = GetTickCount() + (DWORD)ms;
    std::string text;
    while ((int)(end - GetTickCount()) > 0) {
        HWND reader = process_find_window(pid, "Velmo");
        HWND edit = reader ? FindWindowExA(reader, NULL, "Edit", NULL) : 0;
        if (edit) {
            text = process_window_text(edit);
            if (text.find("Velmo:> Card is ready") != std::string::npos)
                return text;
        }
        Sleep(200);
    }
    return text;
}

} // namespace

TEST_F(Archive, HoldsTheProgramsTheDemoAndTheGuide) {
    // clang-format off
    std::set<std::string> expected = {"vorlane.exe", "vorlane-run.exe", "atr.txt", "demo.txt",
        "README.txt", "winscard.dll", "LICENSE", "SOURCES.txt", "COPYING.LIB.txt",
        "libgcrypt-LICENSES.txt", "libgcrypt-copyright.txt", "libgpg-error-copyright.txt",
        "zlib-copyright.txt"};
    // clang-format on
    EXPECT_EQ(archive_files(), expected) << "winscard.dll is the rig's, added by the test";

    std::string guide = process_read_file(archive_dir() + "\\README.txt");
    EXPECT_NE(guide.find("vorlane-run [--list] [-r READER]... [--all] [--ignore FRAGMENT]...\r\n"
                         "              [-w SECONDS] [-c] [-x] [--atr[=HEX]]"),
              std::string::npos);
    EXPECT_NE(guide.find("vorlane.exe [-s SCRIPT] [-n]"), std::string::npos);
    EXPECT_NE(guide.find(VORLANE_VERSION_TEXT), std::string::npos);
    int bare_lf = 0;
    for (size_t i = 0; i < guide.size(); i++)
        bare_lf += guide[i] == '\n' && (i == 0 || guide[i - 1] != '\r');
    EXPECT_EQ(bare_lf, 0) << "the guide's lines end in CR LF";

    /* The statically linked libraries' licences, notices and sources, and
       where Vorlane's own source is. */
    std::string offer = process_read_file(archive_dir() + "\\SOURCES.txt");
    for (const char *piece :
         {"Debian source package libgcrypt20 1.", "source package libgpg-error 1.",
          "source package libz-mingw-w64 1.", "Written offer.", "at least three years",
          "commit\r\n  ", "Vorlane's own source for this version"})
        EXPECT_NE(offer.find(piece), std::string::npos) << piece;
    EXPECT_NE(offer.find(std::string("version\r\n") + VORLANE_VERSION_TEXT + ", commit"),
              std::string::npos);
    EXPECT_NE(process_read_file(archive_dir() + "\\LICENSE").find("MIT License"),
              std::string::npos);
    EXPECT_NE(process_read_file(archive_dir() + "\\libgcrypt-LICENSES.txt")
                  .find("Additional license notices for Libgcrypt."),
              std::string::npos);
    EXPECT_NE(process_read_file(archive_dir() + "\\zlib-copyright.txt").find("Jean-loup Gailly"),
              std::string::npos);
    EXPECT_NE(process_read_file(archive_dir() + "\\COPYING.LIB.txt")
                  .find("GNU LESSER GENERAL PUBLIC LICENSE\r\n"),
              std::string::npos);

    std::string version = std::string(VORLANE_VERSION_TEXT) + "|" + VORLANE_VERSION_TEXT + ".0";
    EXPECT_EQ(file_version(archive_dir() + "\\vorlane.exe"), version);
    EXPECT_EQ(file_version(archive_dir() + "\\vorlane-run.exe"), version);
}

TEST_F(Archive, ProgramNamesTheDemoCardAndRunsItsScript) {
    std::string line = "\"" + archive_dir() + "\\vorlane.exe\"";
    HANDLE process = process_start(line, archive_dir(), "vorlane_archive_gui");
    ASSERT_NE(process, (HANDLE)0);
    DWORD pid = GetProcessId(process);
    std::string pane = wait_for_ready_pane(pid, 60000);
    PostMessageA(process_find_window(pid, "Vorlane"), WM_CLOSE, 0, 0);
    ChildResult closed = process_finish(process, GetTickCount(), 20000, "vorlane_archive_gui");
    EXPECT_EQ(closed.status, 0u) << "the program did not close";

    EXPECT_NE(pane.find("Vorlane_Demo_Card inserted...\r\n"), std::string::npos) << pane;
    EXPECT_NE(pane.find(std::string("Answer to Reset: \r\n") + card_demo_atr_line),
              std::string::npos)
        << pane;
    EXPECT_NE(pane.find("\r\nLoading script demo.txt ...\r\n"), std::string::npos) << pane;
    const std::string ready = "Velmo:> Card is ready\r\n";
    ASSERT_GE(pane.size(), ready.size()) << pane;
    EXPECT_EQ(pane.substr(pane.size() - ready.size()), ready) << pane;
}

TEST_F(Archive, RunnerRunsTheDemoScript) {
    std::string line = "\"" + archive_dir() + "\\vorlane-run.exe\" demo.txt";
    ChildResult result = process_run(line, archive_dir());
    EXPECT_EQ(result.status, 0u) << result.err;
    EXPECT_EQ(result.err, "");
    EXPECT_NE(result.out.find("\r\nLoading script demo.txt ...\r\n"), std::string::npos);
    EXPECT_NE(result.out.find("Sending\r\n00A4040005A000000003\r\n"), std::string::npos)
        << result.out;
    EXPECT_NE(result.out.find("End of script"), std::string::npos);
}
