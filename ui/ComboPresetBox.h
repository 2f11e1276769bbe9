// A preset combo box as the preset code sees it: the main window's box and the Custom Settings
// dialog's. Names are Windows-1252 bytes in the preset list and shown decoded. The box keeps its
// entries sorted, ignoring letter case.
// User-interface thread.
#pragma once

#include <QComboBox>
#include <string>

#include "settings/PresetBox.h"
#include "settings/Windows1252.h"

class CComboPresetBox : public IPresetBox {
public:
    explicit CComboPresetBox(QComboBox* box) : m_pBox(box) {}

    static QString Shown(const std::string& name) {
        return QString::fromStdString(DecodeWindows1252(name));
    }
    static std::string Stored(const QString& text) { return EncodeWindows1252(text.toStdString()); }

    void ResetContent() override { m_pBox->clear(); }

    void AddString(const std::string& name) override { InsertSorted(Shown(name)); }

    // The index the entry took.
    int InsertSorted(const QString& text) {
        int at = 0;
        while (at < m_pBox->count() &&
               QString::compare(m_pBox->itemText(at), text, Qt::CaseInsensitive) <= 0)
            ++at;
        m_pBox->insertItem(at, text);
        return at;
    }

    // The first entry equal to text ignoring letter case, or -1; selects nothing.
    int FindStringExact(const QString& text) const {
        for (int i = 0; i < m_pBox->count(); ++i) {
            if (QString::compare(m_pBox->itemText(i), text, Qt::CaseInsensitive) == 0) return i;
        }
        return -1;
    }

    int SelectStringExact(const std::string& text) override {
        const int found = FindStringExact(Shown(text));
        m_pBox->setCurrentIndex(found);
        return found;
    }

    bool GetSelectedText(std::string& text) override {
        if (m_pBox->currentIndex() < 0) return false;
        text = Stored(m_pBox->itemText(m_pBox->currentIndex()));
        return true;
    }

private:
    QComboBox* m_pBox;
};
