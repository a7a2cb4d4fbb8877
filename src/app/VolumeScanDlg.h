#pragma once
// The volume page: parses the chosen volume on a worker as soon as it
// opens, then shows it as a folder tree, a file list that can be sorted and
// filtered, and a preview of the selected file. Folders open on demand;
// Save writes the checked entries (or, with nothing checked, the selected
// folder's subtree) to the output folder with a save report, a double
// click on a file writes that file, and Search lists the entries whose
// names match a pattern. Parse, save and search run as jobs with Pause,
// Resume and Stop.
#include <QModelIndex>
#include <QPointer>
#include <atomic>
#include <filesystem>
#include <memory>
#include <optional>

#include "app/WizardPage.h"
#include "browse/FileList.h"
#include "browse/FolderSave.h"
#include "browse/VolumeParser.h"
#include "volumes/VolumeRecord.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QSplitter;
class QPushButton;
class QTimer;

namespace salvage::ui {
class BrowseTreeModel;
class CheckListView;
class CheckTreeView;
class FileListFilter;
class FileListModel;
class PreviewPane;
class JobProgress;
}  // namespace salvage::ui

namespace salvage::app {

class VolumeSession;
class WorkerJob;

class VolumeScanDlg : public WizardPage {
    Q_OBJECT
public:
    // In the Advanced mode `session` is the advanced-input page's, with the
    // parser of its candidate search and the user's choice set; otherwise
    // the page makes its own.
    VolumeScanDlg(WizardWindow* wizard, WizardPage* owner, const VolumeRecord& record, RecoveryMode mode,
                  std::shared_ptr<VolumeSession> session = nullptr);
    ~VolumeScanDlg() override;

    VolumeSession& session() { return *session_; }
    RecoveryMode mode() const { return mode_; }
    // A parse, search or save is running.
    bool isBusy() const;
    QString runningJobNote() const override;
    ui::BrowseTreeModel* treeModel() const { return treeModel_; }
    ui::FileListModel* listModel() const { return listModel_; }
    ui::CheckTreeView* treeView() const { return treeView_; }
    ui::CheckListView* listView() const { return listView_; }
    ui::FileListFilter* listFilter() const { return listFilter_; }
    ui::PreviewPane* preview() const { return preview_; }
    // The files the last save handed to the parser, with their outcome.
    std::vector<SavedFile> lastSaved() const { return lastSaved_; }

signals:
    // A parse, search or save has ended and the page is browsable again.
    void jobDone();

private:
    void startParse();
    void jobEnded(int kind);
    void showJobControls(bool running);

    void labelClicked(const QModelIndex& index);
    void expanded(const QModelIndex& index);
    void doubleClicked(const QModelIndex& index);
    void openFolderItem(TreeItem item);
    void fillList(TreeItem item, bool byImage);
    // Marks the list's rows that touch damage known so far, then shows them.
    void markDamage();

    void listDoubleClicked(const QModelIndex& index);
    void revealInTree(const ListRow& row);
    void applyFilter();
    void listChanged();
    void schedulePreview(std::optional<RecordId> record, const QString& name);
    void showPreview();

    void chooseOutputFolder();
    void save();
    bool saveChecked(const std::filesystem::path& out);
    void saveSingle(TreeItem item, RecordId record);
    enum class SaveKind { Entries, Single };
    void startSave(SaveKind kind, const std::filesystem::path& out, std::function<void(FolderSave&)> work);
    void saveEnded();
    void reportSave(bool stopped);
    void search();
    void pause();
    void resume();
    void stop();
    bool refuseWhileBusy();
    void restoreLayout();
    void saveLayout() const;

    std::shared_ptr<VolumeSession> session_;
    RecoveryMode mode_;
    ui::BrowseTreeModel* treeModel_;
    ui::FileListModel* listModel_;
    ui::CheckTreeView* treeView_;
    ui::CheckListView* listView_;
    ui::FileListFilter* listFilter_;
    ui::PreviewPane* preview_;
    QSplitter* browseSplitter_;
    QSplitter* listSplitter_;
    QLineEdit* filterBox_;
    QCheckBox* deletedOnly_;
    QCheckBox* damagedOnly_;
    QLineEdit* minSize_;
    QLineEdit* maxSize_;
    QLabel* countLine_;
    QTimer* previewTimer_;
    std::optional<RecordId> previewRecord_;
    QString previewName_;
    QLineEdit* volumeText_;
    QLineEdit* searchBox_;
    QPushButton* searchButton_;
    QLineEdit* outputFolder_;
    QPushButton* chooseFolder_;
    QPushButton* saveButton_;
    QLabel* status_;
    QLabel* sizeLine_;
    ui::JobProgress* progress_;
    QPushButton* pause_;
    QPushButton* resume_;
    QPushButton* stop_;
    QPushButton* back_;
    QTimer* resultsTimer_;
    WorkerJob* saveJob_;
    std::shared_ptr<FolderSave> currentSave_;
    std::shared_ptr<Reporter> saveReporter_;
    SaveKind saveKind_ = SaveKind::Entries;
    std::filesystem::path saveOut_;
    std::shared_ptr<std::atomic<bool>> reportWritten_;
    std::vector<SavedFile> lastSaved_;
    QString saveOutputError_;  // why the output folder could not be opened
    bool controllerJob_ = false;
};

}  // namespace salvage::app
