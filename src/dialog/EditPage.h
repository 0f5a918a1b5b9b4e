#pragma once
// What the three editing pages share: working copies loaded from and committed to the
// settings record, and a signal for every edit the user makes.
#include "dialog/DialogFields.h"

#include <QWidget>

#include <optional>

class CEditPage : public QWidget {
    Q_OBJECT
public:
    using QWidget::QWidget;

    // Clears the page's change flag, copies the record into the working copies and
    // puts them into the controls.
    virtual void LoadFromSettings() = 0;
    // Reads the controls into the working copies; the first field that fails its check
    // is returned and nothing further is read.
    virtual std::optional<FieldError> ReadControls() = 0;
    // Copies the working copies (read by ReadControls) into the record.
    virtual void CommitToSettings() = 0;

signals:
    // Any edit: the window enables "OK" and "Apply".
    void changed();

protected:
    // True while LoadFromSettings fills the controls: list and check box changes made
    // then are not edits (text fields still count, see the pages).
    bool m_bLoading = false;
};
