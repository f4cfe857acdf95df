/*
 * prompt.h: the prompt word that opens the reader pane's ready and insert
 * lines, printed by the reader window, the dialogs and the script engine.
 */
#ifndef VORLANE_PROMPT_H
#define VORLANE_PROMPT_H

inline constexpr char app_prompt[] = "Velmo:>";

#endif
