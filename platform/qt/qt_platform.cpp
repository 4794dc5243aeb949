// Qt popups, event loop, locale and theme.
#include "platform/qt/qt_platform.h"

#include <QApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QInputDialog>
#include <QLocale>
#include <QMessageBox>
#include <QPainter>
#include <QPalette>
#include <QPushButton>
#include <QRegularExpression>
#include <QStyleFactory>
#include <QTemporaryDir>
#include <QThread>

#include <clocale>

namespace platform::qt {

void initApplicationLocale() {
    std::setlocale(LC_NUMERIC, "C");
    QLocale::setDefault(QLocale::c());
}

namespace {

bool onGuiThread() {
    QCoreApplication* app = QCoreApplication::instance();
    return app && QThread::currentThread() == app->thread();
}

QString qs(const std::string& s) {
    return QString::fromStdString(s);
}

QStringList patterns(const std::string& typeList) {
    QStringList out;
    for (const QString& p : qs(typeList).split(QRegularExpression("[;,\\s]+"), Qt::SkipEmptyParts))
        out << p;
    return out;
}

} // namespace

QString fileDialogFilter(const std::string& typeList) {
    QStringList p = patterns(typeList);
    if (p.isEmpty() || p == QStringList{"*.*"} || p == QStringList{"*"}) return "All files (*)";
    return QString("%1 (%2);;All files (*)").arg(p.join(' '), p.join(' '));
}

QString defaultSuffix(const std::string& typeList) {
    QStringList p = patterns(typeList);
    if (p.isEmpty() || !p.front().startsWith("*.")) return {};
    QString ext = p.front().mid(2);
    return ext.contains('*') ? QString() : ext;
}

PopupAnswer QtPopupHandler::defaultAnswer(const PopupRequest& request) {
    switch (request.kind) {
    case PopupKind::Message:
        return {1, {}};
    case PopupKind::Confirm:
        return {0, {}}; // nothing is confirmed on behalf of a user who never saw the question
    case PopupKind::Choice:
        return {1, {}};
    case PopupKind::FileSelect:
    case PopupKind::Prompt: // nothing is typed on behalf of the user either
        break;
    }
    return {VAL_NO_FILE_SELECTED, {}};
}

PopupAnswer QtPopupHandler::show(const PopupRequest& request) {
    if (onGuiThread()) return showModal(request);
    if (QCoreApplication* app = QCoreApplication::instance()) {
        QString title = qs(request.title), text = qs(request.text);
        if (request.kind == PopupKind::FileSelect && text.isEmpty())
            text = QStringLiteral("This dialog cannot be shown while the instrument is busy.");
        QMetaObject::invokeMethod(
            app,
            // parent_ is read here, on the GUI thread that sets it.
            [this, title, text] {
                auto* box = new QMessageBox(QMessageBox::Information, title, text, QMessageBox::Ok,
                                            parent_.data());
                box->setAttribute(Qt::WA_DeleteOnClose);
                box->setModal(false);
                box->show();
            },
            Qt::QueuedConnection);
    }
    return defaultAnswer(request);
}

// Modal to the panel only: other top-level windows (the simulated instrument's, where a user
// connects the standard a prompt asks for) keep taking input.
template <typename Dialog> void panelModal(Dialog& dialog, QWidget* parent) {
    if (parent) dialog.setWindowModality(Qt::WindowModal);
}

PopupAnswer QtPopupHandler::showModal(const PopupRequest& r) {
    QWidget* parent = parent_ ? parent_.data() : QApplication::activeWindow();
    switch (r.kind) {
    case PopupKind::Message: {
        QMessageBox box(QMessageBox::Information, qs(r.title), qs(r.text), QMessageBox::Ok, parent);
        panelModal(box, parent);
        box.exec();
        return {1, {}};
    }
    case PopupKind::Confirm: {
        QMessageBox box(QMessageBox::Question, qs(r.title), qs(r.text),
                        QMessageBox::Yes | QMessageBox::No, parent);
        panelModal(box, parent);
        box.setDefaultButton(QMessageBox::Yes);
        return {box.exec() == QMessageBox::Yes ? 1 : 0, {}};
    }
    case PopupKind::Choice: {
        QMessageBox box(QMessageBox::Question, qs(r.title), qs(r.text), QMessageBox::NoButton,
                        parent);
        panelModal(box, parent);
        std::vector<std::pair<QAbstractButton*, int>> buttons;
        QAbstractButton* active = nullptr;
        for (std::size_t i = 0; i < r.buttons.size() && i < 3; ++i) {
            if (r.buttons[i].empty()) continue;
            const int number = static_cast<int>(i) + 1;
            const auto role =
                number == r.escapeButton ? QMessageBox::RejectRole : QMessageBox::AcceptRole;
            QAbstractButton* b = box.addButton(qs(r.buttons[i]), role);
            if (number == r.escapeButton) box.setEscapeButton(b);
            if (number == r.activeButton) active = b;
            buttons.emplace_back(b, number);
        }
        if (buttons.empty()) buttons.emplace_back(box.addButton(QMessageBox::Ok), 1);
        if (!active) active = buttons.front().first;
        box.setDefaultButton(qobject_cast<QPushButton*>(active));
        box.exec();
        for (auto& [button, number] : buttons)
            if (box.clickedButton() == button) return {number, {}};
        return {r.escapeButton > 0 ? r.escapeButton : buttons.front().second, {}};
    }
    case PopupKind::FileSelect: {
        QFileDialog dialog(parent, qs(r.title), qs(r.folder), fileDialogFilter(r.typeList));
        panelModal(dialog, parent);
        dialog.setOption(QFileDialog::DontUseNativeDialog);
        dialog.setAcceptMode(r.save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
        dialog.setFileMode(r.save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
        dialog.setDefaultSuffix(defaultSuffix(r.typeList));
        if (!r.defaultName.empty() && r.defaultName.find('*') == std::string::npos)
            dialog.selectFile(qs(r.defaultName));
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
            return {VAL_NO_FILE_SELECTED, {}};
        QString path = dialog.selectedFiles().front();
        bool exists = QFileInfo::exists(path);
        return {exists ? VAL_EXISTING_FILE_SELECTED : VAL_NEW_FILE_SELECTED, path.toStdString()};
    }
    case PopupKind::Prompt: {
        QInputDialog dialog(parent);
        panelModal(dialog, parent);
        dialog.setWindowTitle(qs(r.title));
        dialog.setLabelText(qs(r.text));
        dialog.setTextValue(qs(r.defaultName));
        if (dialog.exec() != QDialog::Accepted) return {0, {}};
        return {1, dialog.textValue().toStdString()};
    }
    }
    return defaultAnswer(r);
}

int QtEventLoop::run() {
    return QApplication::exec();
}

void QtEventLoop::quit(int code) {
    // Queued, so a quit asked for before the loop runs (or from the timer thread) still ends
    // the loop once it does.
    if (QCoreApplication* app = QCoreApplication::instance())
        QMetaObject::invokeMethod(
            app, [code] { QCoreApplication::exit(code); }, Qt::QueuedConnection);
}

void QtEventLoop::post(std::function<void()> fn) {
    if (QCoreApplication* app = QCoreApplication::instance())
        QMetaObject::invokeMethod(app, std::move(fn), Qt::QueuedConnection);
}

void QtEventLoop::processEvents() {
    // Only what brings the screen up to date: queued refreshes, layouts and paints. Timers, user
    // input and window closes wait for the event loop, so nothing re-enters the work in hand.
    if (!QCoreApplication::instance() || QThread::currentThread() != qApp->thread()) return;
    // The widgets' queued refreshes only: actions posted to the application (a queued
    // shutdown, a user's request) wait for the loop, or they would run inside this work.
    for (QWidget* w : QApplication::allWidgets())
        QCoreApplication::sendPostedEvents(w, QEvent::MetaCall);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::UpdateRequest);
}

namespace {

// Style sheets take arrow images only as files; they are drawn once per run.
QString arrowFolder() {
    static QTemporaryDir dir;
    static bool drawn = false;
    if (!drawn && dir.isValid()) {
        drawn = true;
        for (bool up : {true, false})
            for (bool enabled : {true, false}) {
                QImage img(18, 12, QImage::Format_ARGB32_Premultiplied);
                img.fill(Qt::transparent);
                QPainter p(&img);
                p.setRenderHint(QPainter::Antialiasing);
                p.setPen(Qt::NoPen);
                p.setBrush(enabled ? QColor(170, 180, 192) : QColor(80, 88, 96));
                QPolygonF tri = up ? QPolygonF({{1, 11}, {17, 11}, {9, 1}})
                                   : QPolygonF({{1, 1}, {17, 1}, {9, 11}});
                p.drawPolygon(tri);
                p.end();
                img.save(
                    dir.filePath(QString(up ? "up" : "down") + (enabled ? "" : "_off") + ".png"));
            }
    }
    return dir.path();
}

} // namespace

void applyTheme(QApplication& app) {
    app.setStyle(QStyleFactory::create("Fusion"));
    QPalette p;
    const QColor window(22, 25, 30), base(13, 16, 20), text(230, 233, 237), button(43, 50, 59);
    const QColor accent(83, 200, 233);
    p.setColor(QPalette::Window, window);
    p.setColor(QPalette::WindowText, text);
    p.setColor(QPalette::Base, base);
    p.setColor(QPalette::AlternateBase, QColor(28, 32, 38));
    p.setColor(QPalette::Text, text);
    p.setColor(QPalette::Button, button);
    p.setColor(QPalette::ButtonText, text);
    p.setColor(QPalette::ToolTipBase, QColor(40, 44, 52));
    p.setColor(QPalette::ToolTipText, text);
    p.setColor(QPalette::Highlight, accent);
    p.setColor(QPalette::HighlightedText, QColor(10, 12, 14));
    p.setColor(QPalette::PlaceholderText, QColor(110, 118, 128));
    p.setColor(QPalette::Disabled, QPalette::Text, QColor(105, 112, 120));
    p.setColor(QPalette::Disabled, QPalette::WindowText, QColor(105, 112, 120));
    p.setColor(QPalette::Disabled, QPalette::ButtonText, QColor(105, 112, 120));
    app.setPalette(p);
    QString css = QString::fromLatin1(R"(
QMenuBar { background: #101317; color: #d8dde3; border-bottom: 1px solid #2a3038; }
QMenuBar::item { padding: 4px 10px; background: transparent; }
QMenuBar::item:selected { background: #27303a; color: #ffffff; }
QMenu { background: #1a1e24; color: #e6e9ed; border: 1px solid #323a44; padding: 4px 0; }
QMenu::item { padding: 5px 28px 5px 26px; }
QMenu::item:selected { background: #2a3b48; color: #ffffff; }
QMenu::item:disabled { color: #5d6670; }
QMenu::separator { height: 1px; background: #323a44; margin: 4px 8px; }
QMenu::indicator { width: 14px; height: 14px; left: 6px; }
QToolTip { border: 1px solid #3a424c; }
QLabel[role="caption"] { color: #8f9aa6; font-size: 11px; }
QLabel[role="message"] { color: #cfd6de; }
QLabel#PANEL_VERSION { color: #e8edf2; font-weight: bold; font-size: 13px; }
QDoubleSpinBox, QLineEdit, QComboBox, QPlainTextEdit {
    background: #0d1014; color: #e6e9ed; border: 1px solid #39414b; border-radius: 3px;
    selection-background-color: #2f6f86; padding: 1px 4px; }
QDoubleSpinBox:focus, QLineEdit:focus, QComboBox:focus, QPlainTextEdit:focus {
    border: 1px solid #53c8e9; }
QDoubleSpinBox:disabled, QLineEdit:disabled, QComboBox:disabled {
    color: #5f6872; background: #15181c; border-color: #2a3038; }
QDoubleSpinBox[readOnly="true"], QLineEdit[readOnly="true"] {
    background: #101316; color: #c4ccd4; border-color: #2a3038; }
QComboBox::drop-down { border: none; width: 18px; }
QComboBox::down-arrow { image: url(@ARROWS@/down.png); width: 9px; height: 6px; }
QComboBox::down-arrow:disabled { image: url(@ARROWS@/down_off.png); }
QDoubleSpinBox::up-button, QDoubleSpinBox::down-button { width: 15px; background: #171b20;
    border-left: 1px solid #2a3038; }
QDoubleSpinBox::up-button { border-top-right-radius: 3px; }
QDoubleSpinBox::down-button { border-bottom-right-radius: 3px; }
QDoubleSpinBox::up-button:hover, QDoubleSpinBox::down-button:hover { background: #27303a; }
QDoubleSpinBox::up-arrow { image: url(@ARROWS@/up.png); width: 7px; height: 5px; }
QDoubleSpinBox::down-arrow { image: url(@ARROWS@/down.png); width: 7px; height: 5px; }
QDoubleSpinBox::up-arrow:disabled { image: url(@ARROWS@/up_off.png); }
QDoubleSpinBox::down-arrow:disabled { image: url(@ARROWS@/down_off.png); }
QComboBox QAbstractItemView { background: #1a1e24; color: #e6e9ed;
    selection-background-color: #2a3b48; border: 1px solid #323a44; }
QPlainTextEdit#PANEL_MESSAGE { background: #0a0c0f; color: #b6c7d6;
    font-family: "DejaVu Sans Mono", monospace; font-size: 11px; border-color: #2a3038; }
QPushButton { background: #2b323b; color: #e6e9ed; border: 1px solid #46505c;
    border-radius: 3px; padding: 2px 8px; font-weight: bold; }
QPushButton:hover { background: #35404b; }
QPushButton:pressed { background: #1f252c; }
QPushButton:disabled { color: #5f6872; background: #1c2127; border-color: #2a3038; }
QPushButton:checkable { font-weight: normal; }
QPushButton:checked { background: #1f3a1a; color: #c9f7b5; border: 1px solid #71e946; }
QPushButton:checked:hover { background: #27481f; }
QSlider::groove:horizontal { height: 4px; background: #39414b; border-radius: 2px; }
QSlider::sub-page:horizontal { background: #2f7f99; border-radius: 2px; }
QSlider::handle:horizontal { background: #53c8e9; width: 12px; margin: -6px 0;
    border-radius: 6px; }
QSlider::handle:horizontal:disabled { background: #4a525c; }
QScrollBar:vertical { background: #0a0c0f; width: 10px; }
QScrollBar::handle:vertical { background: #323a44; min-height: 20px; border-radius: 4px; }
QScrollBar::add-line, QScrollBar::sub-line { height: 0; }
QMessageBox, QFileDialog { background: #1a1e24; }
)");
    app.setStyleSheet(css.replace("@ARROWS@", arrowFolder()));
}

} // namespace platform::qt
