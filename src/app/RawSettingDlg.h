#pragma once
// The signature editor: one form per file type, appended as a record to a
// settings file the user chooses (created, or emptied when it exists). The
// file stays open while the editor is, so several types go in one visit.
#include <QDialog>
#include <memory>

#include "carve/SignatureFile.h"

class QCheckBox;
class QLineEdit;
class QPushButton;

namespace salvage::app {

class QtReporter;

class RawSettingDlg : public QDialog {
    Q_OBJECT
public:
    explicit RawSettingDlg(QWidget* parent = nullptr);
    ~RawSettingDlg() override;

    // The fields as typed.
    SignatureFields fields() const;
    bool hasFile() const { return writer_.isOpen(); }

private:
    void chooseFile();
    void appendSignature();

    SignatureFileWriter writer_;
    QtReporter* reporter_;
    QLineEdit* extension_;
    QLineEdit* startSignature_;
    QLineEdit* endSignature_;
    QLineEdit* sizeOffset_;
    QLineEdit* sizeByteCount_;
    QCheckBox* sizeIncludesHeader_;
    QLineEdit* headerSize_;
    QLineEdit* skipSize_;
    QLineEdit* approxSize_;
    QLineEdit* category_;
    QLineEdit* pathBox_;
};

}  // namespace salvage::app
