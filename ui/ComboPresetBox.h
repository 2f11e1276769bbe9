// A preset combo box as the preset code sees it. The box keeps its entries sorted the way the
// platform's sorted combo box does, ignoring letter case. User-interface thread.
#pragma once

#include <QComboBox>
#include <string>

#include "PresetBox.h"

class CComboPresetBox : public IPresetBox {
public:
    explicit CComboPresetBox(QComboBox* box) : m_pBox(box) {}

    void ResetContent() override { m_pBox->clear(); }

    void AddString(const std::string& name) override {
        // Preset names are bytes of the 8-bit code page.
        const QString text = QString::fromLatin1(name.data(), qsizetype(name.size()));
        int at = 0;
        while (at < m_pBox->count() &&
               QString::compare(m_pBox->itemText(at), text, Qt::CaseInsensitive) <= 0)
            ++at;
        m_pBox->insertItem(at, text);
    }

    int SelectStringExact(const std::string& text) override {
        const QString wanted = QString::fromLatin1(text.data(), qsizetype(text.size()));
        for (int i = 0; i < m_pBox->count(); ++i) {
            if (QString::compare(m_pBox->itemText(i), wanted, Qt::CaseInsensitive) == 0) {
                m_pBox->setCurrentIndex(i);
                return i;
            }
        }
        m_pBox->setCurrentIndex(-1);
        return -1;
    }

    bool GetSelectedText(std::string& text) override {
        if (m_pBox->currentIndex() < 0) return false;
        text = m_pBox->currentText().toLatin1().toStdString();
        return true;
    }

private:
    QComboBox* m_pBox;
};
