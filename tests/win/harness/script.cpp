/*
 * script.cpp: reading the reader pane back for the script tests.
 */
#include "tests/win/harness/script.h"

#include <stdlib.h>

#include <regex>

#include "app/app_state.h"
#include "tests/win/harness/frame.h"

std::string script_pane_text(void) {
    std::string text = harness_window_text(app.gui.panes[PANE_READER].edit);
    return std::regex_replace(text, std::regex("Time: [0-9]+ ms"), "Time: # ms");
}

int script_pane_time(void) {
    std::string text = harness_window_text(app.gui.panes[PANE_READER].edit);
    std::smatch match;
    int value = -1;
    for (auto it = text.cbegin();
         std::regex_search(it, text.cend(), match, std::regex("Time: ([0-9]+) ms"));
         it = match.suffix().first)
        value = atoi(match[1].str().c_str());
    return value;
}

void script_pane_clear(void) {
    harness_pane_clear(app.gui.panes[PANE_READER].edit, 0);
}

std::string script_end_text(void) {
    return "\r\n\r\nEnd of script\r\nTime: # ms\r\n\r\nVelmo:> Card is ready\r\n";
}

int script_count(const std::string &text, const std::string &piece) {
    int n = 0;
    for (size_t at = text.find(piece); at != std::string::npos; at = text.find(piece, at + 1))
        n++;
    return n;
}
