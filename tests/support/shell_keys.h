// The sixteen key trees of the old shell extension below HKEY_CLASSES_ROOT, in the order setup
// removes them. Written out here, apart from the program's own table, which the tests check.
#ifndef TQ_TESTS_SUPPORT_SHELL_KEYS_H
#define TQ_TESTS_SUPPORT_SHELL_KEYS_H

inline constexpr const char* ShellExtensionKeys[16] = {
    "CLSID\\{7b3e4a04-91c2-11cf-a4d6-3c5e7f901b2d}",
    "CLSID\\{7b3e4a05-91c2-11cf-a4d6-3c5e7f901b2d}",
    "CLSID\\{7b3e4a06-91c2-11cf-a4d6-3c5e7f901b2d}",
    "CLSID\\{7b3e4a07-91c2-11cf-a4d6-3c5e7f901b2d}",
    "CLSID\\{7b3e4a00-91c2-11cf-a4d6-3c5e7f901b2d}",
    "CLSID\\{7b3e4a01-91c2-11cf-a4d6-3c5e7f901b2d}",
    "CLSID\\{7b3e4a02-91c2-11cf-a4d6-3c5e7f901b2d}",
    "CLSID\\{7b3e4a03-91c2-11cf-a4d6-3c5e7f901b2d}",
    "Tessel\\shellex\\DropHandler",
    "Directory\\shellex\\DragDropHandlers\\Tessel",
    "Drive\\shellex\\DragDropHandlers\\Tessel",
    "Folder\\shellex\\DragDropHandlers\\Tessel",
    "*\\shellex\\ContextMenuHandlers\\Tessel",
    "Folder\\shellex\\ContextMenuHandlers\\Tessel",
    "Directory\\shellex\\ContextMenuHandlers\\Tessel",
    ".ZIP\\ShellEx\\{00021500-0000-0000-c000-000000000046}",
};

#endif
