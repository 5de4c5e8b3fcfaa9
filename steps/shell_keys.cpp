// Removal of the old shell extension's registrations under HKEY_CLASSES_ROOT: its class keys
// and the handler keys of the file types and folders it served, each with its whole subtree.
// The outcome of each removal is ignored; a tree that cannot be deleted keeps what is left of it
// and the removal goes on with the next key.
#include "steps/steps.h"

#include <string.h>

// Key paths, "\" between components, are built in buffers of this many bytes (NUL included).
constexpr size_t KeyPathSize = 512;

static const char* const ShellExtensionClasses[] = {
    "{7b3e4a04-91c2-11cf-a4d6-3c5e7f901b2d}",
    "{7b3e4a05-91c2-11cf-a4d6-3c5e7f901b2d}",
    "{7b3e4a06-91c2-11cf-a4d6-3c5e7f901b2d}",
    "{7b3e4a07-91c2-11cf-a4d6-3c5e7f901b2d}",
    "{7b3e4a00-91c2-11cf-a4d6-3c5e7f901b2d}",
    "{7b3e4a01-91c2-11cf-a4d6-3c5e7f901b2d}",
    "{7b3e4a02-91c2-11cf-a4d6-3c5e7f901b2d}",
    "{7b3e4a03-91c2-11cf-a4d6-3c5e7f901b2d}",
};

// The last one is the handler registered for ".ZIP" under the shell interface identifier
// {00021500-0000-0000-c000-000000000046}.
static const char* const ShellExtensionHandlers[] = {
    "Tessel\\shellex\\DropHandler",
    "Directory\\shellex\\DragDropHandlers\\Tessel",
    "Drive\\shellex\\DragDropHandlers\\Tessel",
    "Folder\\shellex\\DragDropHandlers\\Tessel",
    "*\\shellex\\ContextMenuHandlers\\Tessel",
    "Folder\\shellex\\ContextMenuHandlers\\Tessel",
    "Directory\\shellex\\ContextMenuHandlers\\Tessel",
    ".ZIP\\ShellEx\\{00021500-0000-0000-c000-000000000046}",
};

// Deletes root\path with all its subkeys, deepest first. Each subkey is deleted through its full
// path from the root, and index 0 is asked for again after each deletion, since the next subkey
// has then moved up. Returns ERROR_SUCCESS or the first error of an open or a deletion, at any
// depth; a subkey whose path would not fit the path buffer is refused with
// ERROR_FILENAME_EXCED_RANGE, and its tree stays.
LONG DeleteKeyTree(HKEY root, const char* path)
{
    HKEY key = nullptr;
    LONG result = RegOpenKeyExA(root, path, 0, KEY_ALL_ACCESS, &key);
    if (result != ERROR_SUCCESS)
        return result;

    char name[KeyPathSize];
    char childPath[KeyPathSize];
    size_t pathLength = strlen(path);
    for (;;) {
        if (RegEnumKeyA(key, 0, name, sizeof name) != ERROR_SUCCESS) {
            // No subkey left: the key itself goes, while it is still open.
            result = RegDeleteKeyA(root, path);
            break;
        }
        size_t nameLength = strlen(name);
        if (pathLength + 1 + nameLength + 1 > KeyPathSize) {
            result = ERROR_FILENAME_EXCED_RANGE;
            break;
        }
        memcpy(childPath, path, pathLength);
        childPath[pathLength] = '\\';
        memcpy(childPath + pathLength + 1, name, nameLength + 1);
        result = DeleteKeyTree(root, childPath);
        if (result != ERROR_SUCCESS)
            break;
    }
    RegCloseKey(key);
    return result;
}

int RemoveShellExtensionKeys(void)
{
    char path[KeyPathSize];
    for (const char* classId : ShellExtensionClasses) {
        wsprintfA(path, "CLSID\\%s", classId);
        DeleteKeyTree(HKEY_CLASSES_ROOT, path);
    }
    for (const char* handler : ShellExtensionHandlers)
        DeleteKeyTree(HKEY_CLASSES_ROOT, handler);
    return 1;
}
