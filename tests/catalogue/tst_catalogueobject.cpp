// A catalogue of its own beside the installed one: each keeps its own lists,
// counters and file, and the names every caller knows follow the installed one.
#include "Catalogue.h"
#include "CatalogueEvents.h"
#include "CatalogueSetup.h"
#include "RdpCommon.h"
#include "TempCatalogue.h"

#include <QSignalSpy>
#include <QTest>

class TestCatalogueObject : public QObject {
    Q_OBJECT

private slots:
    void cleanup() { ReleaseCatalogue(); }

    void secondCatalogueBesideTheInstalledOne()
    {
        TempCatalogue installedFile, ownFile;
        installedFile.write("[MISC]\r\nMaxGroupID=4\r\nMaxServerId=0\r\n[GroupItem4]\r\nGroupName=Web\r\n");
        UseIniFile(installedFile.path());
        LoadGroups();
        LoadServers();

        std::unique_ptr<Catalogue> own = MakeIniCatalogue(ownFile.path());
        own->LoadGroups();
        own->LoadServers();
        QCOMPARE(own->AddGroup(QStringLiteral("Db")), 1);
        TClientSettings settings;
        settings.Server = QStringLiteral("10.1.1.1");
        const PSvrItem ownServer = own->AddSvrItem(settings, 1, QStringLiteral("own"));

        // The installed catalogue saw none of it, and its names still act on it alone.
        QCOMPARE(MaxGroupID, 4);
        QCOMPARE(GetSvrGroups().Count(), 1);
        QCOMPARE(GetSvrList().Count(), 0);
        QCOMPARE(AddGroup(QStringLiteral("Mail")), 5);
        QCOMPARE(own->MaxGroupID, 1);
        QCOMPARE(own->GetSvrList().Count(), 1);
        QCOMPARE(ownServer->Group.GroupName, QStringLiteral("Db"));

        // Each file holds its own catalogue.
        ReleaseCatalogue();
        own.reset();
        UseIniFile(ownFile.path());
        QCOMPARE(GetSvrGroups().Count(), 1);
        QCOMPARE(GetSvrGroups().Items(0)->GroupName, QStringLiteral("Db"));
        QCOMPARE(GetSvrList().Count(), 1);
        QCOMPARE(GetSvrList().Items(0)->Description, QStringLiteral("own"));
        UseIniFile(installedFile.path());
        QCOMPARE(GetSvrGroups().Count(), 2);
        QCOMPARE(GetGroupIdByName(QStringLiteral("Mail")), 5);
    }

    // The names SvrList, SvrGroups, MaxGroupID and MaxServerId are the installed
    // catalogue's, whichever that is now.
    void namesFollowTheInstalledCatalogue()
    {
        TempCatalogue a, b;
        a.write("[MISC]\r\nMaxGroupID=2\r\nMaxServerId=7\r\n");
        b.write("[MISC]\r\nMaxGroupID=9\r\nMaxServerId=3\r\n");
        UseIniFile(a.path());
        LoadGroups();
        LoadServers();
        QVERIFY(SvrList && SvrGroups);
        QCOMPARE(int(MaxGroupID), 2);
        QCOMPARE(int(MaxServerId), 7);
        Catalogue::Install(MakeIniCatalogue(b.path()));
        QVERIFY(!SvrList && !SvrGroups); // not loaded yet
        LoadGroups();
        LoadServers();
        QCOMPARE(int(MaxGroupID), 9);
        QCOMPARE(int(MaxServerId), 3);
    }

    // Listeners of the program's events keep hearing whichever catalogue is installed.
    void eventsRelayTheInstalledCatalogue()
    {
        TempCatalogue a;
        UseIniFile(a.path());
        QSignalSpy availability(&CatalogueEvents::Instance(), &CatalogueEvents::Availability);
        UseIniFile(a.path());
        emit Catalogue::Current().Store().availability(false, QStringLiteral("gone"));
        QCOMPARE(availability.count(), 1);
        QVERIFY(!CatalogueEvents::Instance().Online());
        QCOMPARE(CatalogueEvents::Instance().OfflineReason(), QStringLiteral("gone"));
        UseIniFile(a.path());
        QVERIFY(CatalogueEvents::Instance().Online()); // a new catalogue starts online
    }
};

QTEST_GUILESS_MAIN(TestCatalogueObject)
#include "tst_catalogueobject.moc"
