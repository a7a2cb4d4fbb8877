#pragma once
#include <QObject>

class PageFlowTest : public QObject {
    Q_OBJECT
private slots:
    void selectionNeedsTheFileDialog();
    void ewfInformationRowsInOrder();
    void rawImageShowsItsSize();
    void unreadableImageLeavesAnEmptyList();
    void backShowsTheOwnerAsItWas();
    void exportRangeWithProgressAndDone();
    void exportStopAndHostileNumbers();
    void hostileChoicesDoNotCrash();
    void standardScanMbrRows();
    void standardScanGptWithAndWithoutTheBox();
    void volumeListEditing();
    void unknownVolumeIsRefused();
    void recoveryModesPerFileSystem();
    void hfsOffersStandardAndDeep();
    void backThenNextRunsANewScan();
    void advancedScanOnAWorker();
    void leavingDuringAnAdvancedScanStopsIt();
};
