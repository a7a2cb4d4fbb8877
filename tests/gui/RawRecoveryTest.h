#pragma once
#include <QObject>

class RawRecoveryTest : public QObject {
    Q_OBJECT
private slots:
    void findsModelFollowsTheWorkerTree();
    void parseDefaultsListsAndSavesPlantedFiles();
    void pauseStopAndBrowseThenParseAgain();
    void findsAppearWhileTheScanRuns();
    void parseRefusalsRestoreTheControls();
    void editorWritesATypeThatTheScanFinds();
};
