/*
 * pane_lines_fuzz.cpp: any sequence of prints, shown in any batches, leaves
 * the pane's edit control with the text that line-by-line insertion leaves,
 * keeps the line history inside its slots and gives back the text it split.
 * Input: pieces separated by the byte 0xFF (one print each); a piece that
 * starts with 0xFE also ends the batch, one that starts with 0xFD has the
 * user type at the end of the control.
 */
#include <stdint.h>
#include <stdlib.h>

#include <string>

#include "tests/pane_lines_reference.h"

static void fuzz_check(bool ok) {
    if (!ok)
        abort();
}

static void fuzz_print(ReferencePane &reference, BatchedPane &batched, std::string piece) {
    bool end_batch = !piece.empty() && (unsigned char)piece[0] == 0xFE;
    bool typing = !piece.empty() && (unsigned char)piece[0] == 0xFD;
    if (end_batch || typing)
        piece.erase(0, 1);
    if (typing) {
        batched.show();
        fuzz_check(batched.edit.text == reference.edit.text);
        batched.edit.type_at_end(piece);
        reference.edit.type_at_end(piece);
        return;
    }
    bool restored = false;
    reference.print(piece);
    fuzz_check(batched.print(piece, &restored) == (int)piece.size());
    fuzz_check(restored);
    fuzz_check(batched.consistent());
    if (end_batch) {
        batched.show();
        fuzz_check(batched.edit.text == reference.edit.text);
    }
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    ReferencePane reference;
    BatchedPane batched;
    std::string piece;

    for (size_t i = 0; i < size; i++) {
        if (data[i] != 0xFF) {
            /* Long lines and many lines cheaply: 0xFC stands for 130 x's. */
            if (data[i] == 0xFC)
                piece.append(130, 'x');
            else
                piece += (char)data[i];
            continue;
        }
        fuzz_print(reference, batched, piece);
        piece.clear();
    }
    fuzz_print(reference, batched, piece);
    batched.show();
    fuzz_check(batched.edit.text == reference.edit.text);
    return 0;
}
