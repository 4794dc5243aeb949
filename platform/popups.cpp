// Popup dispatch: stderr first, so a terminal or a script always sees what the user saw.
#include "platform/popups.h"

#include <atomic>
#include <cstdio>

namespace platform {
namespace {
std::atomic<PopupHandler*> gHandler{nullptr};
thread_local PopupHandler* tHandler = nullptr;

PopupAnswer dispatch(const PopupRequest& r) {
    std::fprintf(stderr, "[popup] %s: %s\n", r.title.c_str(), r.text.c_str());
    PopupHandler* h = tHandler ? tHandler : gHandler.load();
    return h ? h->show(r) : defaultResponder().show(r);
}
} // namespace

ScriptedResponder& defaultResponder() {
    static ScriptedResponder responder;
    return responder;
}

void setPopupHandler(PopupHandler* handler) {
    gHandler.store(handler);
}

PopupHandler* popupHandler() {
    return gHandler.load();
}

void setThreadPopupHandler(PopupHandler* handler) {
    tHandler = handler;
}

PopupHandler* threadPopupHandler() {
    return tHandler;
}

PopupAnswer ScriptedResponder::show(const PopupRequest& request) {
    std::lock_guard lock(mutex_);
    shown_.push_back(request);
    if (!answers_.empty()) {
        PopupAnswer a = answers_.front();
        answers_.pop_front();
        return a;
    }
    switch (request.kind) {
    case PopupKind::FileSelect:
        return PopupAnswer{VAL_NO_FILE_SELECTED, {}};
    case PopupKind::Prompt:
        return PopupAnswer{1, request.defaultName};
    default:
        return PopupAnswer{1, {}};
    }
}

void ScriptedResponder::push(PopupAnswer answer) {
    std::lock_guard lock(mutex_);
    answers_.push_back(std::move(answer));
}

void ScriptedResponder::pushFile(const std::string& path, int result) {
    push(PopupAnswer{result, path});
}

std::vector<PopupRequest> ScriptedResponder::shown() const {
    std::lock_guard lock(mutex_);
    return shown_;
}

int ScriptedResponder::count(PopupKind kind) const {
    std::lock_guard lock(mutex_);
    int n = 0;
    for (auto& r : shown_) n += r.kind == kind;
    return n;
}

int ScriptedResponder::countTitle(const std::string& title) const {
    std::lock_guard lock(mutex_);
    int n = 0;
    for (auto& r : shown_) n += r.title == title;
    return n;
}

void ScriptedResponder::clear() {
    std::lock_guard lock(mutex_);
    answers_.clear();
    shown_.clear();
}

void MessagePopup(const std::string& title, const std::string& text) {
    dispatch(PopupRequest{PopupKind::Message, title, text, {}, {}, {}, {}, false});
}

int ConfirmPopup(const std::string& title, const std::string& text) {
    return dispatch(PopupRequest{PopupKind::Confirm, title, text, {}, {}, {}, {}, false}).result;
}

int GenericMessagePopup(const std::string& title, const std::string& text, const std::string& b1,
                        const std::string& b2, const std::string& b3, int activeButton,
                        int escapeButton) {
    return dispatch(PopupRequest{PopupKind::Choice,
                                 title,
                                 text,
                                 {b1, b2, b3},
                                 {},
                                 {},
                                 {},
                                 false,
                                 activeButton,
                                 escapeButton})
        .result;
}

int FileSelectPopup(const std::string& folder, const std::string& defaultName,
                    const std::string& typeList, const std::string& title, bool save,
                    std::string& path) {
    PopupAnswer a = dispatch(
        PopupRequest{PopupKind::FileSelect, title, {}, {}, folder, defaultName, typeList, save});
    if (a.result != VAL_NO_FILE_SELECTED) path = a.path;
    return a.result;
}

int PromptPopup(const std::string& title, const std::string& prompt, std::string& text) {
    PopupAnswer a =
        dispatch(PopupRequest{PopupKind::Prompt, title, prompt, {}, {}, text, {}, false});
    if (a.result == 1) text = a.path;
    return a.result == 1 ? 1 : 0;
}

} // namespace platform
