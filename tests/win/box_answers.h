// Message boxes in tests: a WH_CBT hook records every box as it is activated (caption, text,
// owner, buttons and icon) and answers it with the next button of a list given in advance.
#ifndef TQ_TESTS_WIN_BOX_ANSWERS_H
#define TQ_TESTS_WIN_BOX_ANSWERS_H

#include <windows.h>

#include <string>
#include <vector>

struct RecordedBox {
    std::string Caption;
    std::string Text;
    HWND Owner;
    UINT Buttons;  // MB_OK, MB_YESNO, MB_RETRYCANCEL, ... as read from the box's buttons
    UINT Icon;     // MB_ICONERROR, MB_ICONQUESTION, MB_ICONINFORMATION, MB_ICONWARNING or 0
    int Answer;    // the button pressed
};

// Answers boxes in order with `answers`; a box after the last answer gets IDOK (or IDNO/IDCANCEL
// when it has no OK button) and is recorded all the same.
void AnswerBoxes(std::vector<int> answers);
// Stops answering and returns what was recorded since AnswerBoxes.
std::vector<RecordedBox> RecordedBoxes(void);

#endif
