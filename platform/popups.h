// Popups and file dialogs. A handler shows them: the Qt view on screen, or a scripted responder
// that answers from a script and records what was shown. Every popup also goes to stderr.
#pragma once

#include <deque>
#include <mutex>
#include <string>
#include <vector>

namespace platform {

enum class PopupKind { Message, Confirm, Choice, FileSelect, Prompt };

struct PopupRequest {
    PopupKind kind = PopupKind::Message;
    std::string title;
    std::string text;
    std::vector<std::string> buttons; // Choice
    std::string folder;               // FileSelect
    std::string defaultName;          // FileSelect; Prompt: the text offered
    std::string typeList;
    bool save = false;
    int activeButton = 1; // Choice: the button Enter presses (1..3)
    int escapeButton = 0; // Choice: the answer of Escape and of closing the box; 0 none
};

struct PopupAnswer {
    int result = 0;   // Confirm: 1 yes / 0 no; Choice: 1..3; FileSelect: see below
    std::string path; // FileSelect; Prompt: the text entered
};

// File selection results.
constexpr int VAL_NO_FILE_SELECTED = 0;
constexpr int VAL_EXISTING_FILE_SELECTED = 1;
constexpr int VAL_NEW_FILE_SELECTED = 2;

class PopupHandler {
  public:
    virtual ~PopupHandler() = default;
    virtual PopupAnswer show(const PopupRequest& request) = 0;
};

// Answers from a queue (default when empty: message 1, confirm 1, choice 1, no file, the prompt's
// offered text accepted) and keeps
// every request it was shown.
class ScriptedResponder : public PopupHandler {
  public:
    PopupAnswer show(const PopupRequest& request) override;
    void push(PopupAnswer answer);
    void pushFile(const std::string& path, int result = VAL_EXISTING_FILE_SELECTED);
    std::vector<PopupRequest> shown() const;
    int count(PopupKind kind) const;
    int countTitle(const std::string& title) const;
    void clear();

  private:
    mutable std::mutex mutex_;
    std::deque<PopupAnswer> answers_;
    std::vector<PopupRequest> shown_;
};

// nullptr restores the built-in scripted responder.
void setPopupHandler(PopupHandler* handler);
// The handler installed (nullptr: the built-in one), so that a caller can put it back.
PopupHandler* popupHandler();
ScriptedResponder& defaultResponder();

// A handler for the calling thread alone, before the installed one (nullptr: none). Work a
// remote client left for the timer thread answers its own popups, while the window's go on to
// the user.
void setThreadPopupHandler(PopupHandler* handler);
PopupHandler* threadPopupHandler();

// A scripted responder for the calling thread while it lives.
class ScopedThreadResponder {
  public:
    ScopedThreadResponder() : previous_(threadPopupHandler()) { setThreadPopupHandler(&answers); }
    ~ScopedThreadResponder() { setThreadPopupHandler(previous_); }
    ScopedThreadResponder(const ScopedThreadResponder&) = delete;
    ScopedThreadResponder& operator=(const ScopedThreadResponder&) = delete;
    ScriptedResponder answers;

  private:
    PopupHandler* previous_;
};

void MessagePopup(const std::string& title, const std::string& text);
int ConfirmPopup(const std::string& title, const std::string& text);
int GenericMessagePopup(const std::string& title, const std::string& text, const std::string& b1,
                        const std::string& b2, const std::string& b3, int activeButton = 1,
                        int escapeButton = 0);
int FileSelectPopup(const std::string& folder, const std::string& defaultName,
                    const std::string& typeList, const std::string& title, bool save,
                    std::string& path);
// A line of text: 1 with the text entered in `text` (which holds the offer on entry), 0 when
// cancelled (text unchanged).
int PromptPopup(const std::string& title, const std::string& prompt, std::string& text);

} // namespace platform
