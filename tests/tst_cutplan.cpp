#include "cutdrawings.h"
#include <QtTest>
class tst_CutPlan : public QObject { Q_OBJECT };
QTEST_MAIN(tst_CutPlan)
#include "tst_cutplan.moc"
