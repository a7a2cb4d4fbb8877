#pragma once
#include <QObject>

class VolumePageTest : public QObject {
    Q_OBJECT
private slots:
    void ntfsParseFoldersAndColours();
    void checksTravelBetweenTreeAndList();
    void saveFolderByteForByte();
    void doubleClickSavesOneFile();
    void doubleClickAnnouncesOnExt();
    void searchListsMatches();
    void stopAPausedSearch();
    void pauseStopAndResumeAParse();
    void exfatAndHfsBrowse();
    void unknownVolumeStartsNothing();
    void advancedFlowNtfs();
    void advancedFlowFat32();
    void hundredThousandEntriesOpenQuickly();
    void fileListSortFilterPreviewAndCheckedSave();
};
