// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// Helpers for the desktop tests: a settings store in a temporary folder, a
// script of answers for the modal boxes and dialogs a test expects, and
// small file helpers.
#pragma once

#include "Program.h"
#include "TCommandForm.h"
#include "TFaxForm.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <deque>
#include <functional>
#include <memory>
#include <utility>

namespace desktoptest {

// Points QSettings at a fresh temporary folder: every test starts from an
// empty store and nothing reaches the home folder.
class TempSettings {
  public:
    TempSettings() {
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, dir_.path());
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, dir_.path());
    }
    QString File() const { return dir_.filePath(QStringLiteral("Tessaly/Folioset.conf")); }
    // Writes the store's file by hand, as another program could have.
    void WriteRaw(const QByteArray& text) const {
        QDir().mkpath(dir_.filePath(QStringLiteral("Tessaly")));
        QFile f(File());
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(text);
    }

  private:
    QTemporaryDir dir_;
};

// What a modal box looked like when it was answered.
struct SeenBox {
    QString className, title, text, info; // info: the box's informative text
    QMessageBox::Icon icon = QMessageBox::NoIcon;
};

// Answers modal widgets in order, from a timer that waits for each one. A
// modal widget no answer expects is recorded and rejected, so a test fails
// instead of hanging.
class ModalScript : public QObject {
  public:
    using Answer = std::function<bool(QWidget*)>; // false: not the expected kind

    ModalScript() {
        timer_.setInterval(10);
        connect(&timer_, &QTimer::timeout, this, &ModalScript::poll);
        timer_.start();
    }

    // Answers the next message box by pressing `button`.
    ModalScript& Box(QMessageBox::StandardButton button) {
        answers_.push_back([button](QWidget* w) {
            auto* box = qobject_cast<QMessageBox*>(w);
            if (!box || !box->button(button))
                return false;
            box->button(button)->click();
            return true;
        });
        return *this;
    }
    // Answers the next file dialog with `path` (accepted) or cancels it.
    ModalScript& File(const QString& path) {
        answers_.push_back([path](QWidget* w) {
            auto* dialog = qobject_cast<QFileDialog*>(w);
            if (!dialog)
                return false;
            if (path.isEmpty()) {
                dialog->reject();
            } else {
                // The name goes into the name field as if typed: selectFile
                // leaves a focused field alone.
                if (auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit")))
                    name->setText(path);
                else
                    dialog->selectFile(path);
                static_cast<QDialog*>(dialog)->accept(); // QFileDialog's own, checked
            }
            return true;
        });
        return *this;
    }
    ModalScript& Then(Answer answer) {
        answers_.push_back(std::move(answer));
        return *this;
    }

    bool Done() const { return answers_.empty(); }
    const QList<SeenBox>& Seen() const { return seen_; }
    const QStringList& Unexpected() const { return unexpected_; }

  private:
    void poll() {
        QWidget* w = QApplication::activeModalWidget();
        if (!w || !w->isVisible() || w == last_)
            return;
        last_ = w;
        SeenBox seen{QString::fromLatin1(w->metaObject()->className()), w->windowTitle(), {}, {}};
        if (auto* box = qobject_cast<QMessageBox*>(w)) {
            seen.text = box->text();
            seen.info = box->informativeText();
            seen.icon = box->icon();
        }
        seen_.append(seen);
        if (!answers_.empty() && answers_.front()(w)) {
            answers_.pop_front();
        } else {
            unexpected_.append(seen.className + ": " + seen.title + ": " + seen.text);
            if (auto* dialog = qobject_cast<QDialog*>(w))
                dialog->reject();
            else
                w->close();
        }
        // The same widget may come back later (dialogs are reused).
        QTimer::singleShot(0, this, [this] { last_ = nullptr; });
    }

    QTimer timer_;
    std::deque<Answer> answers_;
    QList<SeenBox> seen_;
    QStringList unexpected_;
    QWidget* last_ = nullptr;
};

inline QByteArray ReadBytes(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.readAll();
}

inline bool WriteBytes(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly))
        return false;
    return f.write(bytes) == bytes.size();
}

// True for the bytes of a TIFF file, either byte order.
inline bool IsTiff(const QByteArray& bytes) {
    return bytes.startsWith(QByteArray("II*\0", 4)) || bytes.startsWith(QByteArray("MM\0*", 4));
}

// The program with its five windows, made afresh for each test with its own
// settings store and a folder for the test's files.
class RunningProgram {
  protected:
    void StartProgram() {
        settings_ = std::make_unique<TempSettings>();
        files_ = std::make_unique<QTemporaryDir>();
        program_ = std::make_unique<::Program>(QStringList{});
    }
    void StopProgram() {
        program_.reset();
        settings_.reset();
        files_.reset();
    }
    ::TCommandForm& cmd() { return *program_->CommandForm; }
    ::TFaxForm& fax() { return *program_->FaxForm; }
    QString file(const QString& name) { return files_->filePath(name); }

    std::unique_ptr<TempSettings> settings_;
    std::unique_ptr<::Program> program_;
    std::unique_ptr<QTemporaryDir> files_;
};

} // namespace desktoptest
