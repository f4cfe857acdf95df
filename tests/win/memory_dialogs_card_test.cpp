/*
 * memory_dialogs_card_test.cpp: the memory and tag dialogs writing to and
 * reading from the rig's test card: the APDUs the card receives, the lines
 * in the reader pane, the card's memory and the dump files.
 */
#include <gtest/gtest.h>

#include <algorithm>

#include <string>
#include <vector>

#include "app/app_state.h"
#include "dialogs/dialogs.h"
#include "resources/names.h"
#include "resources/resource.h"
#include "tests/win/harness/card.h"
#include "tests/win/harness/dialog.h"
#include "tests/win/harness/files.h"
#include "tests/win/harness/testcard.h"
#include "tests/win/harness/frame.h"

class MemoryDialogsCard : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(dialog_card_open());
    }
    void TearDown() override {
        dialog_card_close();
    }
};

static std::string bytes_text(const std::vector<unsigned char> &bytes) {
    return std::string(bytes.begin(), bytes.end());
}

/* Bytes 0..n-1 that differ from their neighbours and hold a zero now and then. */
static std::string pattern(size_t n, unsigned seed) {
    std::string bytes(n, 0);
    for (size_t i = 0; i < n; i++)
        bytes[i] = (char)((i * 37 + seed * 11 + (i >> 3)) & 0xFF);
    return bytes;
}

/* WRITE of `path` from `address`; the address field afterwards. */
static std::string write_file(HWND dialog, const std::string &address, const std::string &path) {
    SetWindowTextA(app.gui.panes[PANE_READER].edit, "");
    dialog_set(dialog, IDC_WRITE_ADDRESS, address);
    dialog_click_posted(dialog, IDC_WRITE_WRITE);
    file_dialog_answer("Loading a File", path);
    dialog_settle(dialog);
    return dialog_get(dialog, IDC_WRITE_ADDRESS);
}

/* READ of `size` bytes from `address`; the address field afterwards. */
static std::string read_memory(HWND dialog, const std::string &address, const std::string &size) {
    SetWindowTextA(app.gui.panes[PANE_READER].edit, "");
    dialog_set(dialog, IDC_READ_ADDRESS, address);
    dialog_set(dialog, IDC_READ_SIZE, size);
    dialog_click(dialog, IDC_READ_READ);
    return dialog_get(dialog, IDC_READ_ADDRESS);
}

/* A write dialog's WRITE of a file of `size` pattern bytes from `start`:
   the pane's lines, the address field after it, the first ten digits of
   each command and the data bytes of the last, and the card's memory from
   `written_at`. */
struct WriteCase {
    DLGPROC proc;
    const char *file;
    size_t size;
    unsigned seed;
    const char *start;
    std::vector<std::string> lines;
    const char *address;
    std::vector<std::string> heads;
    size_t last_data;
    unsigned written_at;
};

static void write_check(const WriteCase &c) {
    std::string path = harness_temp_path(c.file);
    std::string data = pattern(c.size, c.seed);
    ASSERT_TRUE(harness_file_write(path, data));
    std::string address;
    std::vector<std::string> lines;
    ASSERT_TRUE(dialog_drive(RES_DIALOG_WRITE, "Write", c.proc, [&](HWND dialog) {
        address = write_file(dialog, c.start, path);
        lines = harness_lines(app.gui.panes[PANE_READER].edit);
    }));
    EXPECT_EQ(lines, c.lines);
    EXPECT_EQ(address, c.address);
    std::vector<std::string> commands = dialog_card_commands();
    ASSERT_EQ(commands.size(), c.heads.size());
    for (size_t i = 0; i < commands.size(); i++)
        EXPECT_EQ(commands[i].substr(0, 10), c.heads[i]);
    EXPECT_EQ(commands.back().size(), 2u * (5 + c.last_data));
    EXPECT_EQ(bytes_text(testcard_memory(0, c.written_at, (unsigned)c.size)), data);
}

// clang-format off
const WriteCase write_cases[] = {
    {memory_write_dialog_proc, "vorlane_card_70.bin", 70, 1, "0",
     {"Adr=0000, 32 bytes written 90 00", "Adr=0032, 32 bytes written 90 00",
      "Adr=0064, 06 bytes written 90 00", "70 bytes written", "Velmo:> Card is ready"},
     "70", {"00D0000020", "00D0002020", "00D0004006"}, 6, 0},
    /* A tag's P1 P2 is the block number: the address over 4. */
    {tag_write_dialog_proc, "vorlane_card_10.bin", 10, 2, "8",
     {"Adr=0008, 04 bytes written 90 00", "Adr=0012, 04 bytes written 90 00",
      "Adr=0016, 02 bytes written 90 00", "10 bytes written", "Velmo:> Card is ready"},
     "18", {"FFD6000204", "FFD6000304", "FFD6000402"}, 2, 8},
};
// clang-format on

TEST_F(MemoryDialogsCard, MemoryWriteOfSeventyBytesInThreeChunks) {
    write_check(write_cases[0]);
}

TEST_F(MemoryDialogsCard, TagWriteUsesBlockNumbers) {
    write_check(write_cases[1]);
}

TEST_F(MemoryDialogsCard, MemoryReadInChunksOfSixteenWithHexAndCharacters) {
    std::vector<unsigned char> memory = {'H',  'e', 'l', 'l', 'o', 0x00, 0x7F, 0x20, 0x7E, 0x1F,
                                         0xFF, 'a', 'b', 'c', 'd', 'e',  'X',  'Y',  'Z',  0x0A};
    ASSERT_TRUE(testcard_memory_set(0, 0, memory));
    std::string address;
    std::vector<std::string> lines;
    ASSERT_TRUE(dialog_drive(RES_DIALOG_READ, "Read", memory_read_dialog_proc, [&](HWND dialog) {
        address = read_memory(dialog, "0", "20");
        lines = harness_lines(app.gui.panes[PANE_READER].edit);
    }));
    std::vector<std::string> expected = {
        "48 65 6C 6C 6F 00 7F 20 7E 1F FF 61 62 63 64 65 Hello.. ~..abcde", "58 59 5A 0A XYZ.",
        "Velmo:> Card is ready"};
    EXPECT_EQ(lines, expected);
    EXPECT_EQ(address, "20");
    std::vector<std::string> commands = dialog_card_commands();
    std::vector<std::string> expected_commands = {"00B0000010", "00B0001004"};
    EXPECT_EQ(commands, expected_commands);
}

TEST_F(MemoryDialogsCard, TagReadOfBlocks) {
    ASSERT_TRUE(testcard_memory_set(0, 4, {'t', 'a', 'g', '!', '1', '2'}));
    std::vector<std::string> lines;
    ASSERT_TRUE(dialog_drive(RES_DIALOG_READ, "Read", tag_read_dialog_proc, [&](HWND dialog) {
        read_memory(dialog, "6", "6");
        lines = harness_lines(app.gui.panes[PANE_READER].edit);
    }));
    /* Address 6 reads block 1 (bytes 4..7), then address 10 block 2. */
    std::vector<std::string> expected = {"74 61 67 21 tag!", "31 32 12", "Velmo:> Card is ready"};
    EXPECT_EQ(lines, expected);
    std::vector<std::string> expected_commands = {"FFB0000104", "FFB0000202"};
    EXPECT_EQ(dialog_card_commands(), expected_commands);
    EXPECT_EQ(app.gui.tag_read_address, 12u);
}

TEST_F(MemoryDialogsCard, ReadAndSaveDumpsExactlyTheBytesRead) {
    std::string data = pattern(40, 3);
    ASSERT_TRUE(testcard_memory_set(0, 100, std::vector<unsigned char>(data.begin(), data.end())));
    std::string path = harness_temp_path("vorlane_card_dump.cfg");
    std::string size_after, address_after;
    FileDialogSeen seen;
    ASSERT_TRUE(dialog_drive(RES_DIALOG_READ, "Read", memory_read_dialog_proc, [&](HWND dialog) {
        dialog_set(dialog, IDC_READ_ADDRESS, "100");
        dialog_set(dialog, IDC_READ_SIZE, "40");
        dialog_click_posted(dialog, IDC_READ_SAVE);
        seen = file_dialog_answer("Dumping card content in a file", path);
        dialog_settle(dialog);
        size_after = dialog_get(dialog, IDC_READ_SIZE);
        address_after = dialog_get(dialog, IDC_READ_ADDRESS);
    }));
    EXPECT_EQ(seen.proposed, "Smart");
    EXPECT_EQ(harness_file_read(path), data);
    EXPECT_EQ(size_after, "40");
    EXPECT_EQ(address_after, "140");
    EXPECT_STREQ(app.gui.memory_dump_path, path.c_str());
    EXPECT_FALSE(app.gui.memory_dump_file);
}

TEST_F(MemoryDialogsCard, TextFormatShowsCharactersUpToZeroButDumpsAll) {
    ASSERT_TRUE(testcard_memory_set(0, 0, {0x41, 0x42, 0x00, 0x43}));
    std::string path = harness_temp_path("vorlane_card_text.cfg");
    std::vector<std::string> lines;
    ASSERT_TRUE(dialog_drive(RES_DIALOG_READ, "Read", memory_read_dialog_proc, [&](HWND dialog) {
        dialog_toggle(dialog, IDC_READ_TEXT_FORMAT);
        SetWindowTextA(app.gui.panes[PANE_READER].edit, "");
        dialog_set(dialog, IDC_READ_ADDRESS, "0");
        dialog_set(dialog, IDC_READ_SIZE, "4");
        dialog_click_posted(dialog, IDC_READ_SAVE);
        file_dialog_answer("Dumping card content in a file", path);
        dialog_settle(dialog);
        lines = harness_lines(app.gui.panes[PANE_READER].edit);
    }));
    /* No line end after text: the ready line joins it. */
    std::vector<std::string> expected = {"ABVelmo:> Card is ready"};
    EXPECT_EQ(lines, expected);
    EXPECT_EQ(harness_file_read(path), std::string("AB\0C", 4));
}

TEST_F(MemoryDialogsCard, RefusedChunkEndsTheOperationAndTheAddressMovesOn) {
    std::string path = harness_temp_path("vorlane_card_refused.bin");
    ASSERT_TRUE(harness_file_write(path, pattern(70, 4)));
    std::vector<std::string> write_lines, read_lines;
    std::string write_address, read_address;
    ASSERT_TRUE(testcard_force_status(0, 0x6A, 0x82, 1));
    ASSERT_TRUE(dialog_drive(RES_DIALOG_WRITE, "Write", memory_write_dialog_proc, [&](HWND dialog) {
        write_address = write_file(dialog, "64", path);
        write_lines = harness_lines(app.gui.panes[PANE_READER].edit);
    }));
    ASSERT_TRUE(testcard_force_status(0, 0x6A, 0x82, 1));
    ASSERT_TRUE(dialog_drive(RES_DIALOG_READ, "Read", memory_read_dialog_proc, [&](HWND dialog) {
        read_address = read_memory(dialog, "64", "40");
        read_lines = harness_lines(app.gui.panes[PANE_READER].edit);
    }));
    std::vector<std::string> expected_write = {"!!! Error While writting ...", "0 bytes written",
                                               "Velmo:> Card is ready"};
    EXPECT_EQ(write_lines, expected_write);
    EXPECT_EQ(write_address, "96");
    std::vector<std::string> expected_read = {"!!! Error While Reading...",
                                              "Velmo:> Card is ready"};
    EXPECT_EQ(read_lines, expected_read);
    EXPECT_EQ(read_address, "80");
    EXPECT_EQ(dialog_card_commands().size(), 2u); /* one chunk each */
    EXPECT_EQ(bytes_text(testcard_memory(0, 64, 32)), std::string(32, '\0'));
}

TEST_F(MemoryDialogsCard, AddressWrapsAt65536) {
    std::string path = harness_temp_path("vorlane_card_wrap.bin");
    ASSERT_TRUE(harness_file_write(path, "\x11\x22\x33"));
    std::string address;
    std::vector<std::string> lines;
    ASSERT_TRUE(dialog_drive(RES_DIALOG_WRITE, "Write", memory_write_dialog_proc, [&](HWND dialog) {
        address = write_file(dialog, "65535", path);
        lines = harness_lines(app.gui.panes[PANE_READER].edit);
    }));
    /* One chunk of three bytes at FFFF: past the card's 64 KiB it is refused,
       and the next address wraps to 2. */
    std::vector<std::string> commands = dialog_card_commands();
    ASSERT_EQ(commands.size(), 1u);
    EXPECT_EQ(commands[0], "00D0FFFF03112233");
    EXPECT_EQ(address, "2");
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), "Velmo:> Card is ready");

    /* A tag read of two blocks from 65532: block 3FFF, then block 0. */
    testcard_log_clear(0);
    ASSERT_TRUE(testcard_memory_set(0, 65532, {'e', 'n', 'd', '.'}));
    ASSERT_TRUE(testcard_memory_set(0, 0, {'s', 't', 'a', 'r'}));
    ASSERT_TRUE(dialog_drive(RES_DIALOG_READ, "Read", tag_read_dialog_proc, [&](HWND dialog) {
        address = read_memory(dialog, "65532", "8");
        lines = harness_lines(app.gui.panes[PANE_READER].edit);
    }));
    EXPECT_EQ(address, "4");
    std::vector<std::string> expected_commands = {"FFB03FFF04", "FFB0000004"};
    EXPECT_EQ(dialog_card_commands(), expected_commands);
    std::vector<std::string> expected_lines = {"65 6E 64 2E end.", "73 74 61 72 star",
                                               "Velmo:> Card is ready"};
    EXPECT_EQ(lines, expected_lines);
}

/* A dump onto a full disk (/dev/full): a short dump is reported, once,
   whether the write of a chunk fails or only the close finds it out; the
   read itself goes on into the pane. */
TEST_F(MemoryDialogsCard, DumpOntoAFullDiskIsReportedOnce) {
    std::vector<std::string> small, large;
    ASSERT_TRUE(dialog_drive("READ", "Read", memory_read_dialog_proc, [&](HWND dialog) {
        for (int round = 0; round < 2; round++) {
            SetWindowTextA(app.gui.panes[PANE_READER].edit, "");
            dialog_set(dialog, IDC_READ_ADDRESS, "0");
            dialog_set(dialog, IDC_READ_SIZE, round == 0 ? "8" : "5000");
            dialog_click_posted(dialog, IDC_READ_SAVE);
            file_dialog_answer("Dumping card content in a file", "Z:\\dev\\full.", IDYES);
            dialog_settle(dialog);
            (round == 0 ? small : large) = harness_lines(app.gui.panes[PANE_READER].edit);
        }
    }));
    const std::string error = "!!! Error While Writing Z:\\dev\\full.";
    EXPECT_EQ(small, std::vector<std::string>(
                         {"00 00 00 00 00 00 00 00 ........", "Velmo:> Card is ready", error}));
    EXPECT_EQ(std::count(large.begin(), large.end(), error), 1);
    ASSERT_FALSE(large.empty());
    EXPECT_EQ(large.back(), "Velmo:> Card is ready");
    EXPECT_FALSE(app.gui.memory_dump_file);
}
