// The shared library as the program binds it: one undecorated export, nothing else
// visible, and a process-wide instance fixed at the first query.
#include <dlfcn.h>

#include <QtTest>

#include "fixturetree.h"
#include "pelmora.h"

class TestPelmoraExport : public QObject {
  Q_OBJECT

  void* m_library = nullptr;

 private slots:
  void initTestCase() {
    fixtures::useRoots(fixtures::path("laptop"));
    const QByteArray path = qgetenv("STELVOX_BINARY_DIR") + "/bin/libpelmora.so";
    m_library = dlopen(path.constData(), RTLD_NOW | RTLD_LOCAL);
    QVERIFY2(m_library, dlerror());
  }

  void exportsOnlyTheQueryByItsPlainName() {
    QVERIFY(dlsym(m_library, "PLM_GetHardwareInfo"));
    QVERIFY(!dlsym(m_library, "_ZN7pelmora7Pelmora11GetInstanceEv"));
    QVERIFY(!dlsym(m_library, "_ZN7pelmora8platform14createComputerEv"));
  }

  void queriesReuseTheFirstInstance() {
    using Query = bool (*)(pelmora::HardwareDatas&);
    const auto query = reinterpret_cast<Query>(dlsym(m_library, "PLM_GetHardwareInfo"));
    QVERIFY(query);
    pelmora::HardwareDatas first;
    QVERIFY(query(first));
    QCOMPARE(first.size(), size_t(2));  // CPU and mainboard; the sleeping GPU gives nothing
    QCOMPARE(first.at(pelmora::HWType::Mainboard).fan, 2900.f);

    // The roots were read when the instance was made; later changes do not move it.
    fixtures::useRoots(fixtures::path("empty"));
    pelmora::HardwareDatas second;
    QVERIFY(query(second));
    QCOMPARE(second.size(), size_t(2));
  }
};

QTEST_APPLESS_MAIN(TestPelmoraExport)
#include "tst_pelmoraexport.moc"
