list(APPEND VORLANE_PURE_SOURCES dialogs/apdu_text.cpp dialogs/dialog_text.cpp)
list(APPEND VORLANE_WIN_SOURCES dialogs/dlg_item.cpp dialogs/dlg_work.cpp dialogs/command_dialog.cpp
     dialogs/memory_chunks.cpp dialogs/memory_dialogs.cpp)
