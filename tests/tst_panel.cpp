#include "rig.h"
#include <QtTest>
class TestPanel : public QObject {
    Q_OBJECT
    Rig rig;
private slots:
    void initTestCase() { QString why; QVERIFY2(rig.start(why), qPrintable(why)); QVERIFY(rig.plug(0) >= 0); }
    void opens() {
        auto w = rig.open();
        QVERIFY(w);
        qDebug() << Rig::ui(*w).pushButton_Param1->isChecked() << Rig::ui(*w).centralWidget->isEnabled();
        QVERIFY(Rig::pressAll(*w, "P1 1 2 5 . 5 U2 OK"));
        QVERIFY(Rig::settle(*w));
        QCOMPARE(rig.settings(0, "FREQ"), QList<QByteArray>{"FREQ 125500000"});
        QVERIFY(Rig::draws(*Rig::ui(*w).lcdNumber_Freq, "125.5"));
    }
};
QTEST_MAIN(TestPanel)
#include "tst_panel.moc"
