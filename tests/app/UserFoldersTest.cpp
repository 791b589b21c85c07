#include "core/DataFolders.h"
#include "core/Gbk.h"
#include "core/Packet.h"
#include "core/PeerContext.h"
#include "harness/FakeMediaPlayer.h"
#include "harness/TempDir.h"
#include "tests/support/RawUdpPeer.h"
#include "tests/support/RecordingReporter.h"
#include "tests/support/ScriptedPrompts.h"
#include "ui/TForm1.h"
#include "ui/TForm2.h"
#include "ui/TForm3.h"

#include <QCheckBox>
#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <memory>
#include <vector>

using namespace Qt::Literals::StringLiterals;

namespace {

constexpr int Wait = 10000;

// The permission bits of path, as the file system holds them (0700, 0600, ...).
unsigned mode(const QString &path)
{
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? (st.st_mode & 07777) : 0;
}

void writeFile(const QString &path, const QByteArray &bytes, unsigned permissions)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
    file.close();
    ::chmod(QFile::encodeName(path).constData(), permissions);
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Every file and folder below root, relative to it, sorted.
QStringList entriesBelow(const QString &root)
{
    QStringList found;
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        found << QDir(root).relativeFilePath(it.next());
    found.sort();
    return found;
}

// A home with empty XDG base folders (HOME, XDG_CONFIG_HOME, XDG_DATA_HOME point into a
// temporary folder; the config and data folders do not exist yet) and a folder standing in
// for the executable's. The environment and the umask are restored afterwards.
class UserFolders : public ::testing::Test {
protected:
    UserFolders()
    {
        for (const char *name : {"HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_DATA_DIRS"})
            saved_.push_back({name, qgetenv(name), qEnvironmentVariableIsSet(name)});
        QDir().mkpath(home());
        qputenv("HOME", QFile::encodeName(home()));
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(root.file(u"config"_s)));
        qputenv("XDG_DATA_HOME", QFile::encodeName(root.file(u"data"_s)));
        qputenv("XDG_DATA_DIRS", QFile::encodeName(root.file(u"system-share"_s)));
        QDir().mkpath(exeDir());
        umask_ = ::umask(022);
    }
    ~UserFolders() override
    {
        ::umask(umask_);
        for (const auto &[name, value, wasSet] : saved_) {
            if (wasSet)
                qputenv(name, value);
            else
                qunsetenv(name);
        }
    }

    QString home() const { return root.file(u"home"_s); }
    QString exeDir() const { return root.file(u"prefix/bin"_s); }
    QString config() const { return root.file(u"config/talvino"_s); }
    QString data() const { return root.file(u"data/talvino"_s); }

    // A complete peer on 127.0.0.2 whose folders are chosen as the program's entry chooses them.
    void startPeer()
    {
        const DataFolders folders = DataFolders::choose(exeDir());
        ASSERT_TRUE(folders.prepare());
        folders.applyTo(context);
        context.bindAddress = u"127.0.0.2"_s;
        context.prompts = &prompts;
        context.reporter = &reporter;
        form1 = std::make_unique<TForm1>(context);
        form2 = std::make_unique<TForm2>(context, new FakeMediaPlayer);
        form1->setSettingsWindow(form2.get());
        form1->show();
    }

    // The user saves nickname in the settings window, and the raw peer's message is logged.
    void saveNicknameAndLogAMessage(const QString &nickname)
    {
        form2->show();
        form2->myname->setText(nickname);
        form2->Button1->click();
        form2->bcf->setChecked(true);
        raw.send(u"127.0.0.2"_s, Packet::message(u"你好"_s));
        ASSERT_TRUE(QTest::qWaitFor([&] { return !form1->findChildren<TForm3 *>().isEmpty(); }, Wait));
        form1->findChildren<TForm3 *>().constFirst()->close();
    }

    TempDir root;
    RawUdpPeer raw{u"127.0.0.3"_s};
    ScriptedPrompts prompts;
    RecordingReporter reporter;
    PeerContext context;
    std::unique_ptr<TForm1> form1;
    std::unique_ptr<TForm2> form2;

private:
    struct Saved {
        const char *name;
        QByteArray value;
        bool wasSet;
    };
    std::vector<Saved> saved_;
    mode_t umask_ = 022;
};

} // namespace

TEST_F(UserFolders, APortableCopyKeepsEverythingBesideTheExecutableAndNothingInTheXdgFolders)
{
    writeFile(exeDir() + u"/myinfo.ini"_s, "[MainSection]\r\nName=\r\n", 0644);
    const DataFolders folders = DataFolders::choose(exeDir());
    EXPECT_TRUE(folders.portable());
    EXPECT_EQ(folders.configDir(), exeDir());
    EXPECT_EQ(folders.dataDir(), exeDir());
    EXPECT_EQ(folders.shareDir(), exeDir());
    EXPECT_TRUE(folders.downloadDir().isEmpty()) << "received.tmp stays relative to the current folder";

    startPeer();
    saveNicknameAndLogAMessage(u"阿明"_s);
    EXPECT_EQ(readFile(exeDir() + u"/myinfo.ini"_s),
              "[MainSection]\r\nName=" + Gbk::encode(u"阿明"_s) + "\r\n");
    EXPECT_TRUE(readFile(exeDir() + u"/chatdat/陌生人.txt"_s).contains(Gbk::encode(u"\r你好\r"_s)));
    EXPECT_EQ(entriesBelow(root.path()),
              (QStringList{u"home"_s, u"prefix"_s, u"prefix/bin"_s, u"prefix/bin/chatdat"_s,
                           u"prefix/bin/chatdat/陌生人.txt"_s, u"prefix/bin/history.db"_s,
                           u"prefix/bin/history.db-shm"_s, u"prefix/bin/history.db-wal"_s,
                           u"prefix/bin/identity.key"_s, u"prefix/bin/myinfo.ini"_s, u"prefix/bin/presence.id"_s}));
    const mode_t now = ::umask(022);
    EXPECT_EQ(now, 022u) << "a portable copy creates its files as it always has";
    EXPECT_TRUE(reporter.errors.isEmpty()) << qPrintable(reporter.errors.join(u'\n'));
}

TEST_F(UserFolders, WithoutAContactFileBesideTheExecutableTheFilesGoToTheXdgFoldersPrivately)
{
    const DataFolders folders = DataFolders::choose(exeDir());
    EXPECT_FALSE(folders.portable());
    EXPECT_EQ(folders.configDir(), config());
    EXPECT_EQ(folders.dataDir(), data());
    EXPECT_EQ(folders.downloadDir(), home()) << "no download folder: the home folder";
    QDir().mkpath(home() + u"/Downloads"_s);
    EXPECT_EQ(DataFolders::choose(exeDir()).downloadDir(), home() + u"/Downloads"_s);

    startPeer();
    for (const QString &folder :
         QStringList{root.file(u"config"_s), config(), root.file(u"data"_s), data(), data() + u"/chatdat"_s})
        EXPECT_EQ(mode(folder), 0700u) << qPrintable(folder);
    EXPECT_EQ(prompts.texts(u"information"_s).value(0), u"第一次使用本程序,请先为自己起一个昵称!"_s);

    saveNicknameAndLogAMessage(u"阿明"_s);
    const QString contacts = config() + u"/myinfo.ini"_s;
    const QString log = data() + u"/chatdat/陌生人.txt"_s;
    EXPECT_EQ(readFile(contacts), "[MainSection]\r\nName=" + Gbk::encode(u"阿明"_s) + "\r\n");
    EXPECT_TRUE(readFile(log).contains(Gbk::encode(u"\r你好\r"_s)));
    EXPECT_EQ(mode(contacts), 0600u);
    EXPECT_EQ(mode(log), 0600u);
    EXPECT_EQ(entriesBelow(exeDir()), QStringList()) << "nothing beside the executable";
    EXPECT_TRUE(reporter.errors.isEmpty()) << qPrintable(reporter.errors.join(u'\n'));
}

TEST_F(UserFolders, AWritableFolderWithoutTheContactFileAndAReadOnlyOneAreNotPortable)
{
    EXPECT_FALSE(DataFolders::choose(exeDir()).portable()) << "no myinfo.ini";
    EXPECT_FALSE(DataFolders::choose(root.file(u"missing"_s)).portable());
    if (::geteuid() == 0)
        GTEST_SKIP() << "root writes into a read-only folder";
    writeFile(exeDir() + u"/myinfo.ini"_s, "[MainSection]\r\nName=x\r\n", 0644);
    ::chmod(QFile::encodeName(exeDir()).constData(), 0555);
    const bool portable = DataFolders::choose(exeDir()).portable();
    ::chmod(QFile::encodeName(exeDir()).constData(), 0755);
    EXPECT_FALSE(portable);
}

TEST_F(UserFolders, ExistingFilesAndFoldersKeepTheirBytesAndModes)
{
    const QByteArray contacts = "; mine\r\n[MainSection]\r\nName=" + Gbk::encode(u"老王"_s) + "\r\n";
    const QByteArray log = Gbk::encode(u"老王:[2024-01-02 03:04:05]\r\n旧的\r\n\r\n"_s);
    writeFile(config() + u"/myinfo.ini"_s, contacts, 0640);
    writeFile(data() + u"/chatdat/陌生人.txt"_s, log, 0644);
    ::chmod(QFile::encodeName(config()).constData(), 0750);
    ::chmod(QFile::encodeName(data() + u"/chatdat"_s).constData(), 0755);

    startPeer();
    EXPECT_TRUE(prompts.texts(u"information"_s).isEmpty()) << "the stored nickname was found";
    EXPECT_EQ(form2->nickname(), u"老王"_s);
    EXPECT_EQ(readFile(config() + u"/myinfo.ini"_s), contacts);
    EXPECT_EQ(mode(config()), 0750u);
    EXPECT_EQ(mode(config() + u"/myinfo.ini"_s), 0640u);

    form2->show();
    form2->bcf->setChecked(true);
    raw.send(u"127.0.0.2"_s, Packet::message(u"新的"_s));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !form1->findChildren<TForm3 *>().isEmpty(); }, Wait));
    form1->findChildren<TForm3 *>().constFirst()->close();
    const QByteArray after = readFile(data() + u"/chatdat/陌生人.txt"_s);
    EXPECT_TRUE(after.startsWith(log)) << after.toStdString();
    EXPECT_TRUE(after.contains(Gbk::encode(u"\r新的\r"_s)));
    EXPECT_EQ(mode(data() + u"/chatdat"_s), 0755u);
    EXPECT_EQ(mode(data() + u"/chatdat/陌生人.txt"_s), 0644u);
}

TEST_F(UserFolders, TheAboutTextComesFromTheInstalledShareFolderFirst)
{
    const QString installed = root.file(u"prefix/share/talvino"_s);
    const QString userData = data();
    const QString system = root.file(u"system-share/talvino"_s);
    EXPECT_EQ(DataFolders::choose(exeDir()).shareDir(), installed) << "none anywhere: the installed place";
    writeFile(exeDir() + u"/readme.txt"_s, "build tree", 0644);
    EXPECT_EQ(DataFolders::choose(exeDir()).shareDir(), exeDir());
    writeFile(system + u"/readme.txt"_s, "system", 0644);
    EXPECT_EQ(DataFolders::choose(exeDir()).shareDir(), system);
    writeFile(userData + u"/readme.txt"_s, "user", 0644);
    EXPECT_EQ(DataFolders::choose(exeDir()).shareDir(), userData);
    writeFile(installed + u"/readme.txt"_s, Gbk::encode(u"关于\r\n本程序"_s), 0644);
    EXPECT_EQ(DataFolders::choose(exeDir()).shareDir(), installed);

    startPeer();
    form2->show();
    form2->PageControl1->setCurrentWidget(form2->about);
    EXPECT_EQ(form2->Memo1->toPlainText(), u"关于\n本程序"_s);
}
