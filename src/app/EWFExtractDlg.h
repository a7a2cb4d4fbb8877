#pragma once
// The export page: copies the image, or a byte range of it, into a new raw
// or EWF image on a worker thread, with a progress bar, a percentage line
// and Stop.
#include <QString>
#include <memory>

#include "app/WizardPage.h"
#include "image/EwfInfo.h"
#include "image/ExportJob.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace salvage::ui {
class JobProgress;
}

namespace salvage::app {

class QtReporter;
class WorkerJob;

class EWFExtractDlg : public WizardPage {
    Q_OBJECT
public:
    // `mediaSizeText` is the information page's "MEDIA SIZE :" value.
    EWFExtractDlg(WizardWindow* wizard, WizardPage* owner, const QString& imagePath, const EwfInfoRecord& info,
                  const QString& mediaSizeText);
    ~EWFExtractDlg() override;

    bool isExporting() const;
    QString runningJobNote() const override;
    // The settings "Extract" would start with.
    ExportSettings collectSettings() const;
    // What the last export ended with.
    const ExportResult& lastResult() const { return lastResult_; }

signals:
    void exportFinished();

private:
    void browse();
    void extract();
    void setExporting(bool exporting);
    void finish();

    QString imagePath_;
    EwfInfoRecord info_;
    QLineEdit* pathBox_;
    QComboBox* format_;
    QLineEdit* segmentSize_;
    QLineEdit* startOffset_;
    QLineEdit* byteCount_;
    ui::JobProgress* progress_;
    QLabel* percentLine_;
    QPushButton* stop_;
    QPushButton* extract_;
    QPushButton* back_;
    QtReporter* reporter_;
    WorkerJob* job_;
    std::unique_ptr<ExportJob> exportJob_;
    ExportResult lastResult_;
};

}  // namespace salvage::app
