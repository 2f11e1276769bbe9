// Questions and notices shown to the user as message boxes with fixed texts and titles. The Qt
// main window implements it with modal message boxes; tests script the answers.
// User-interface thread.
#pragma once

#include <string>

enum class PromptIcon { None, Question, Warning, Information, Stop };

class IPrompter {
public:
    virtual ~IPrompter() = default;

    // Yes and No buttons; true for Yes.
    virtual bool AskYesNo(const std::string& text, const std::string& title, PromptIcon icon) = 0;
    // An OK button.
    virtual void ShowMessage(const std::string& text, const std::string& title,
                             PromptIcon icon) = 0;
};
