#include "file_size_limit.h"
#include "guarded_file.h"
#include "ini_document.h"
#include "test_files.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

using namespace plinket;
using plinket::test::BOM;
using plinket::test::letOthersRead;
using plinket::test::readFileBytes;
using plinket::test::writeFileBytes;

namespace {

// Entries as one line of text: [header] ;comment key=value, separated by "|".
QByteArray dump(const QList<IniEntry>& entries) {
    QByteArrayList parts;
    for (const IniEntry& e : entries) {
        switch (e.kind) {
        case IniEntry::Kind::GroupHeader:
            parts << "[" + e.name + "]";
            break;
        case IniEntry::Kind::Comment:
            parts << ";" + e.name;
            break;
        case IniEntry::Kind::KeyValue:
            parts << e.name + "=" + e.value;
            break;
        }
    }
    return parts.join('|');
}

// Runs a small script of document operations, one per list item:
//   "g:Name" selectGroup, "w:Key=Value" writeString, "i:Key=12" writeInteger, "r:Name" removeGroup.
void runScript(IniDocument& doc, const QStringList& script) {
    for (const QString& step : script) {
        const QString arg = step.mid(2);
        const QString key = arg.section(u'=', 0, 0);
        const QString value = arg.section(u'=', 1);
        switch (step.at(0).unicode()) {
        case 'g':
            doc.selectGroup(arg);
            break;
        case 'w':
            doc.writeString(key, value);
            break;
        case 'i':
            doc.writeInteger(key, value.toInt());
            break;
        case 'r':
            doc.removeGroup(arg);
            break;
        default:
            QFAIL("unknown script step");
        }
    }
}

} // namespace

namespace {

// A file of the current user that others may read fails the check of a secret key.
bool othersMayRead(const QString& file) {
    return plinket::readGuardedFile(file, plinket::FileGuard::Private).status == plinket::GuardedRead::Status::Refused;
}

} // namespace

class TestIniDocument final : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    QString path(const QString& name) const { return m_dir.filePath(name); }

private slots:
    void reading_data() {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QByteArray>("entries");
        QTest::newRow("mark skipped, utf-8 kept")
            << BOM + "[Grp]\r\nName=\xD0\x96" << QByteArray("[Grp]|Name=\xD0\x96");
        QTest::newRow("no mark: latin-1, each byte a character")
            << QByteArray("K=\xE9\xD0\x96") << QByteArray("K=\xC3\xA9\xC3\x90\xC2\x96");
        QTest::newRow("two bytes of the mark only are latin-1")
            << QByteArray("\xEF\xBB") << QByteArray("\xC3\xAF\xC2\xBB=");
        QTest::newRow("lone CR, lone LF, runs")
            << QByteArray("a=1\rb=2\nc=3\r\r\n\n\rd=4") << QByteArray("a=1|b=2|c=3|d=4");
        QTest::newRow("leading blanks and tabs, blank lines")
            << QByteArray("  \t[G]\r\n \t \r\n\tk=v") << QByteArray("[G]|k=v");
        QTest::newRow("comment drops one blank only")
            << QByteArray(";one\r\n; two\r\n;  three\r\n;\tfour") << QByteArray(";one|;two|; three|;\tfour");
        QTest::newRow("header taken as it stands")
            << QByteArray("[ A ]\r\n[B] trailing ] text\r\n[open") << QByteArray("[ A ]|[B]|[open]");
        QTest::newRow("key and value trimming")
            << QByteArray("Key \t= \t value  \r\nx=a=b") << QByteArray("Key=value  |x=a=b");
        QTest::newRow("no equals: key with empty value")
            << QByteArray("  lone key  \r\n=v") << QByteArray("lone key=|=v");
        QTest::newRow("empty file") << QByteArray() << QByteArray();
    }
    void reading() {
        QFETCH(QByteArray, file);
        QFETCH(QByteArray, entries);
        QCOMPARE(dump(IniDocument::parse(file)), entries);
    }

    void writing_data() {
        QTest::addColumn<QByteArray>("before");
        QTest::addColumn<bool>("groupSeparator");
        QTest::addColumn<QStringList>("script");
        QTest::addColumn<QByteArray>("after");
        QTest::newRow("two groups with separator")
            << BOM + "[General]\r\nName = x\r\n[Other]\r\n;set by hand\r\n"
            << true
            << QStringList{u"g:General"_qs, u"w:Name=PC-ACCOUNTING"_qs, u"i:Size=12"_qs, u"g:Other"_qs, u"i:Flag=1"_qs}
            << BOM +
                   "\r\n[General]\r\nName = PC-ACCOUNTING\r\nSize = 12\r\n\r\n[Other]\r\n; set by hand\r\nFlag = 1\r\n";
        QTest::newRow("mark and header A")
            << BOM + "[A]" << false << QStringList{u"g:A"_qs, u"w:k=v"_qs} << BOM + "\r\n[A]\r\nk = v\r\n";
        QTest::newRow("empty file gets no mark")
            << QByteArray() << false << QStringList{u"g:G"_qs, u"w:k=v"_qs} << QByteArray("[G]\r\nk = v\r\n");
        QTest::newRow("empty file, text beyond ASCII: the mark, so it reads back as written")
            << QByteArray() << false << QStringList{u"g:Обед"_qs, u"w:1=Обед в 13:00"_qs}
            << BOM + "\r\n[Обед]\r\n1 = Обед в 13:00\r\n";
        QTest::newRow("one-byte file gets the mark")
            << QByteArray("\n") << false << QStringList{u"g:G"_qs, u"w:k=v"_qs} << BOM + "\r\n[G]\r\nk = v\r\n";
        QTest::newRow("empty lines vanish, one before each later header")
            << QByteArray("lead=1\r\n\r\n\r\n[a]\r\n\r\nx=1\r\n\r\n\r\n[b]\r\n[c]") << true
            << QStringList{u"g:a"_qs, u"w:x=2"_qs} << BOM + "\r\nlead = 1\r\n[a]\r\nx = 2\r\n\r\n[b]\r\n\r\n[c]\r\n";
        QTest::newRow("no separator: no empty lines")
            << QByteArray("[a]\r\n\r\n[b]") << false << QStringList{u"g:b"_qs, u"w:k=1"_qs}
            << BOM + "\r\n[a]\r\n[b]\r\nk = 1\r\n";
        QTest::newRow("existing key keeps place, takes new spelling")
            << QByteArray("[G]\r\nA=1\r\nB=2\r\nC=3\r\n[H]\r\nB=9") << false << QStringList{u"g:g"_qs, u"w:b=20"_qs}
            << BOM + "\r\n[G]\r\nA = 1\r\nb = 20\r\nC = 3\r\n[H]\r\nB = 9\r\n";
        QTest::newRow("new key last in its group, after comments")
            << QByteArray("[G]\r\nA=1\r\n;c\r\n[H]") << false << QStringList{u"g:G"_qs, u"w:N=x"_qs}
            << BOM + "\r\n[G]\r\nA = 1\r\n; c\r\nN = x\r\n[H]\r\n";
        QTest::newRow("missing group appended at the end")
            << QByteArray("[G]\r\nA=1\r\n[H]\r\nB=2") << false << QStringList{u"g:New"_qs, u"w:K=v"_qs}
            << BOM + "\r\n[G]\r\nA = 1\r\n[H]\r\nB = 2\r\n[New]\r\nK = v\r\n";
        QTest::newRow("header differing in case only is selected, keeps spelling")
            << QByteArray("[Common]") << false << QStringList{u"g:COMMON"_qs, u"w:K=v"_qs}
            << BOM + "\r\n[Common]\r\nK = v\r\n";
        QTest::newRow("blanks inside brackets are part of the name")
            << QByteArray("[ A ]") << false << QStringList{u"g:A"_qs, u"w:K=v"_qs}
            << BOM + "\r\n[ A ]\r\n[A]\r\nK = v\r\n";
        QTest::newRow("leading area: before the first header")
            << QByteArray(";top\r\nx=1\r\n[G]") << false << QStringList{u"g:"_qs, u"w:y=2"_qs}
            << BOM + "\r\n; top\r\nx = 1\r\ny = 2\r\n[G]\r\n";
        QTest::newRow("first of duplicates wins")
            << QByteArray("[G]\r\nk=1\r\nK=2\r\n[g]\r\nk=3") << false << QStringList{u"g:G"_qs, u"w:k=x"_qs}
            << BOM + "\r\n[G]\r\nk = x\r\nK = 2\r\n[g]\r\nk = 3\r\n";
        QTest::newRow("remove group and its entries")
            << QByteArray("[A]\r\n1=a\r\n\r\n[B]\r\n1=b\r\n;c\r\n\r\n[C]\r\n1=c") << true << QStringList{u"r:b"_qs}
            << BOM + "\r\n[A]\r\n1 = a\r\n\r\n[C]\r\n1 = c\r\n";
        QTest::newRow("negative integer, trailing blanks of values kept")
            << QByteArray("[G]\r\nv=a  ") << false << QStringList{u"g:G"_qs, u"i:n=-65535"_qs}
            << BOM + "\r\n[G]\r\nv = a  \r\nn = -65535\r\n";
    }
    void writing() {
        QFETCH(QByteArray, before);
        QFETCH(bool, groupSeparator);
        QFETCH(QStringList, script);
        QFETCH(QByteArray, after);
        // The row's name as a file name any system takes (no ':' on Windows).
        QString name = QString::fromUtf8(QTest::currentDataTag());
        for (QChar& c : name)
            if (!c.isLetterOrNumber())
                c = u'_';
        const QString file = path(name);
        QVERIFY(writeFileBytes(file, before));
        IniDocument doc;
        QVERIFY(doc.open(file, groupSeparator));
        runScript(doc, script);
        QVERIFY(doc.close());
        QCOMPARE(readFileBytes(file), after);
    }

    void lookups_data() {
        QTest::addColumn<QString>("group");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("string");
        QTest::addColumn<int>("integer");
        QTest::newRow("case-insensitive names") << u"common"_qs << u"WIDTH"_qs << u"12px"_qs << 12;
        QTest::newRow("value starting with a letter") << u"Common"_qs << u"Lang"_qs << u"EN"_qs << 0;
        QTest::newRow("signed with blanks") << u"Common"_qs << u"Neg"_qs << u"-42x"_qs << -42;
        QTest::newRow("missing key: default") << u"Common"_qs << u"Nope"_qs << u"def"_qs << 77;
        QTest::newRow("pending group: default") << u"Missing"_qs << u"Lang"_qs << u"def"_qs << 77;
        QTest::newRow("leading area") << QString() << u"top"_qs << u"t"_qs << 0;
        QTest::newRow("first group of duplicates") << u"Dup"_qs << u"k"_qs << u"first"_qs << 0;
        QTest::newRow("non-ASCII is not folded") << u"\u0416"_qs << u"k"_qs << u"def"_qs << 77;
        QTest::newRow("overflow is clamped") << u"Common"_qs << u"Big"_qs << u"99999999999"_qs << 2147483647;
    }
    void lookups() {
        QFETCH(QString, group);
        QFETCH(QString, key);
        QFETCH(QString, string);
        QFETCH(int, integer);
        const QString file = path(u"lookups.ini"_qs);
        QVERIFY(writeFileBytes(file, BOM + "top = t\r\n[Common]\r\nWidth = 12px \r\nLang=EN\r\nNeg=  -42x\r\n"
                                           "Big=99999999999\r\n[Dup]\r\nk=first\r\n[dup]\r\nk=second\r\n"
                                           "[\xD0\xB6]\r\nk=lower\r\n"));
        IniDocument doc;
        QVERIFY(doc.open(file));
        doc.selectGroup(group);
        QCOMPARE(doc.readString(key, u"def"_qs), string);
        QCOMPARE(doc.readInteger(key, 77), integer);
        QVERIFY(doc.close());
        QVERIFY(!doc.isOpen());
    }

    void enumeration() {
        const QString file = path(u"enum.ini"_qs);
        QVERIFY(writeFileBytes(file, "lead=0\r\n[A]\r\nk1 = v1 \r\n;c\r\nk2\r\n[B]\r\n[C]\r\nx=1"));
        IniDocument doc;
        QVERIFY(doc.open(file));
        QStringList seen;
        doc.selectGroup(u"nope"_qs);
        doc.beginKeys();
        QVERIFY(!doc.nextKey()); // a pending group has no keys
        doc.beginGroups();
        while (doc.nextGroup()) {
            QString line = doc.groupName() + u':';
            doc.beginKeys();
            while (doc.nextKey())
                line += doc.keyName() + u'=' + doc.keyValue() + u',';
            seen << line;
        }
        QCOMPARE(seen, (QStringList{u"A:k1=v1,k2=,"_qs, u"B:"_qs, u"C:x=1,"_qs}));
        doc.selectGroup(QString());
        doc.beginKeys();
        QVERIFY(doc.nextKey());
        QCOMPARE(doc.keyName(), u"lead"_qs);
        QVERIFY(!doc.nextKey());
    }

    void unmodifiedDocumentLeavesFileUntouched() {
        const QString file = path(u"untouched.ini"_qs);
        const QByteArray bytes("\n\n[A]\r\n  k =  v\r\n\r\n");
        QVERIFY(writeFileBytes(file, bytes));
        IniDocument doc;
        QVERIFY(doc.open(file, true));
        doc.selectGroup(u"A"_qs);
        QCOMPARE(doc.readString(u"k"_qs, {}), u"v"_qs);
        QVERIFY(doc.close());
        QCOMPARE(readFileBytes(file), bytes);
    }

    void createWritesMarkAndEmpties() {
        const QString file = path(u"created.ini"_qs);
        QVERIFY(writeFileBytes(file, "old content"));
        IniDocument doc;
        QVERIFY(doc.create(file));
        QCOMPARE(readFileBytes(file), QByteArray());
        doc.selectGroup(u"G"_qs);
        doc.writeString(u"k"_qs, u"v"_qs);
        QVERIFY(doc.close());
        QCOMPARE(readFileBytes(file), BOM + "\r\n[G]\r\nk = v\r\n");
        QVERIFY(!doc.create(path(u"no/such/folder.ini"_qs)));
        QVERIFY(!doc.open(path(u"missing.ini"_qs)));
        QVERIFY(!QFile::exists(path(u"missing.ini"_qs))); // open never creates
    }

    // A file that can be opened for reading only: the document is read, writes are dropped and
    // reported. A running program's file cannot be opened for writing, even by root.
    void readOnlyFileKeepsItsContent() {
        const QString sleepBinary = QStandardPaths::findExecutable(u"sleep"_qs);
        if (sleepBinary.isEmpty())
            QSKIP("no sleep program to run");
        const QString busy = path(u"busy.ini"_qs);
        QFile::remove(busy);
        QVERIFY(QFile::copy(sleepBinary, busy));
        QVERIFY(QFile::setPermissions(busy, QFile::permissions(busy) | QFile::ExeUser));
        const QByteArray before = readFileBytes(busy);
        QProcess running;
        running.start(busy, {u"20"_qs});
        if (!running.waitForStarted())
            QSKIP("cannot run a program from the temporary folder");
        IniDocument doc;
        QVERIFY(doc.open(busy, true));
        const bool readOnly = doc.isReadOnly();
        doc.selectGroup(u"G"_qs);
        doc.writeString(u"k"_qs, u"v"_qs);
        const bool closed = doc.close();
        running.kill();
        running.waitForFinished();
        if (!readOnly)
            QSKIP("this system lets a running program's file be opened for writing");
        QVERIFY(!closed);
        QCOMPARE(readFileBytes(busy), before);
    }

    // The rewrite never leaves a cut file: a write that fails part-way (here the file size limit,
    // which binds root too, standing in for a full disk) leaves the old content complete.
    void failedWriteKeepsOldFile() {
        const QString file = path(u"full.ini"_qs);
        const QByteArray before = "[G]\r\nk = old\r\n";
        QVERIFY(writeFileBytes(file, before));
        IniDocument doc;
        QVERIFY(doc.open(file));
        doc.selectGroup(u"G"_qs);
        doc.writeString(u"k"_qs, QString(4096, u'x'));

        bool closed = true;
        {
            FileSizeLimit limit(1024);
            if (!limit.active())
                QSKIP("no file size limit on this system");
            closed = doc.close();
        }

        QVERIFY(!closed);
        QCOMPARE(readFileBytes(file), before);
        QCOMPARE(QDir(m_dir.path()).entryList({u"full.ini*"_qs}, QDir::Files | QDir::Hidden).size(), 1);
    }

    void vanishedFolderFailsTheSave() {
        const QString folder = path(u"sub"_qs);
        QVERIFY(QDir().mkpath(folder));
        const QString file = folder + u"/a.ini"_qs;
        QVERIFY(writeFileBytes(file, "[G]"));
        IniDocument doc;
        QVERIFY(doc.open(file));
        doc.writeString(u"k"_qs, u"v"_qs);
        QVERIFY(QDir(folder).removeRecursively());
        QVERIFY(writeFileBytes(folder, "a file now")); // the folder is replaced by a file
        QVERIFY(!doc.close());
        QCOMPARE(readFileBytes(folder), QByteArray("a file now"));
    }

    // Who may read the file survives the save that replaces it: a file kept from other users stays
    // theirs alone, a shared one stays shared (Linux: mode bits; Windows: the access control list).
    void keepsPermissions_data() {
        QTest::addColumn<bool>("othersRead");
        QTest::newRow("owner only") << false;
        QTest::newRow("readable by others") << true;
    }
    void keepsPermissions() {
        QFETCH(bool, othersRead);
        const QString file = path(othersRead ? u"shared.ini"_qs : u"private.ini"_qs);
        QString error;
        QVERIFY2(createGuardedFile(file, "[G]", false, &error), qPrintable(error));
        if (othersRead)
            QVERIFY(letOthersRead(file));
        const QFile::Permissions before = QFile::permissions(file);
        QCOMPARE(othersMayRead(file), othersRead);
        IniDocument doc;
        QVERIFY(doc.open(file));
        doc.writeString(u"k"_qs, u"v"_qs);
        QVERIFY(doc.close());
        QCOMPARE(QFile::permissions(file), before);
        QCOMPARE(othersMayRead(file), othersRead);
    }
};

QTEST_APPLESS_MAIN(TestIniDocument)
#include "tst_ini_document.moc"
