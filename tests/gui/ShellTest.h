#pragma once
#include <QObject>

class ShellTest : public QObject {
    Q_OBJECT
private slots:
    void windowSizeGeometryAndTitle();
    void enterAndEscapeDoNothing();
    void closeBoxAsksFirst();
    void helpMenu();
    void secondInstanceIsRefused();
    void reporterQueuesToTheGuiThread();
    void workerQuestionWhileTheGuiWaits();
};
