/*
 * pane_lines_reference.h: a plain, line-by-line model of a pane for the
 * native tests and the fuzzer. It walks each print character by character,
 * completes one line at a time and inserts it into a modelled edit control
 * at once, the way a pane showed its text before output was batched. The
 * batched line discipline must leave the control with the same text after
 * every batch.
 */
#ifndef VORLANE_PANE_LINES_REFERENCE_H
#define VORLANE_PANE_LINES_REFERENCE_H

#include <string.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "console/pane_lines.h"

/* An edit control reduced to its text and its selection. */
struct ModelEdit {
    std::string text;
    size_t start = 0, end = 0;

    void replace_selection(const std::string &with) {
        start = std::min(start, text.size());
        end = std::min(std::max(end, start), text.size());
        text.replace(start, end - start, with);
        start += with.size();
        end = start;
    }
    void replace_all(const std::string &with) {
        text = with;
        start = end = text.size();
    }
    /* A user typing at the end: the insertion point stays where it was. */
    void type_at_end(const std::string &typed) {
        text += typed;
    }
};

struct ReferencePane {
    std::vector<std::string> complete; /* lines since the last rebuild, no CR LF */
    std::string open;
    ModelEdit edit;

    void complete_line() {
        complete.push_back(open);
        open.clear();
        if ((int)complete.size() == PANE_LAST_SLOT + 1) {
            complete.erase(complete.begin(), complete.end() - PANE_LINES_KEPT);
            std::string all;
            for (const std::string &line : complete)
                all += line + "\r\n";
            edit.replace_all(all);
        } else {
            edit.replace_selection(complete.back() + "\r\n");
        }
    }
    /* One print: up to its first NUL; a CR right before an LF is dropped
       only when both came in this print and the CR is still in the open
       line. */
    void print(const std::string &given) {
        std::string text = given.substr(0, strlen(given.c_str()));
        size_t fresh = 0; /* characters of open that came from this print */
        for (size_t i = 0; i < text.size(); i++) {
            if (text[i] == '\n') {
                if (i >= 1 && text[i - 1] == '\r' && fresh > 0)
                    open.pop_back();
                complete_line();
                fresh = 0;
                continue;
            }
            open += text[i];
            fresh++;
            if ((int)open.size() == PANE_LINE_MAX) {
                complete_line();
                fresh = 0;
            }
        }
    }
};

/* The unit under test with its own modelled edit control, fed in batches. */
struct BatchedPane {
    std::unique_ptr<PaneLines> lines{new PaneLines};
    std::unique_ptr<PaneChange> change{new PaneChange};
    ModelEdit edit;

    BatchedPane() {
        pane_lines_reset(lines.get());
        pane_change_clear(change.get());
    }
    /* Queues one print into the current batch; returns what the unit
       returned, and whether it gave back every character it split at. */
    int print(const std::string &text, bool *restored) {
        std::vector<char> buffer(text.begin(), text.end());
        buffer.push_back('#'); /* overwritten by the NUL at text[length] */
        int length = (int)text.size();
        int returned = pane_lines_feed(lines.get(), buffer.data(), length, change.get());
        size_t n = strlen(text.c_str());
        bool same = buffer[text.size()] == 0;
        for (size_t i = 0; i < n && same; i++) {
            bool cut = text[i] == '\n' || (text[i] == '\r' && i + 1 < n && text[i + 1] == '\n');
            same = cut ? buffer[i] == 0 : buffer[i] == text[i];
        }
        *restored = same;
        return returned;
    }
    /* Ends the batch: the one update of the control. */
    void show() {
        std::string text(change->text, change->length);
        if (change->rebuilt)
            edit.replace_all(text);
        else if (!text.empty())
            edit.replace_selection(text);
        pane_change_clear(change.get());
    }
    bool consistent() const {
        if (lines->current < 0 || lines->current > PANE_LAST_SLOT)
            return false;
        for (int k = 0; k <= lines->current; k++)
            if (strlen(lines->slots[k]) > PANE_LINE_MAX + 2u)
                return false;
        return strlen(lines->slots[lines->current]) < (size_t)PANE_LINE_MAX;
    }
};

#endif
