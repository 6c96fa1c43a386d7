// The shared random generator, file names as bytes, the default path and the failure report's
// text.

#include "DefaultPath.h"
#include "FailureReport.h"
#include "PathText.h"
#include "ScreenFit.h"
#include "SharedRandom.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <vector>

#include <fcntl.h>
#include <sys/stat.h>

using noggix::RandomGenerator;

TEST(SharedRandom, FirstTenDrawsOfRangeFive)
{
    // The shared generator itself, untouched so far in this process.
    std::vector<quint32> draws;
    for (int i = 0; i < 10; ++i)
        draws.push_back(noggix::sharedRandom().draw(5));
    EXPECT_EQ(draws, (std::vector<quint32>{0, 0, 4, 1, 1, 3, 1, 0, 1, 2}));
}

TEST(SharedRandom, DrawsStayInRangeAndUseTheUpperBits)
{
    RandomGenerator random;
    for (int i = 0; i < 10000; ++i)
        ASSERT_LT(random.draw(44), 44u);
    // With range 2^32 - 1 a draw returns the new state minus one: the states after the first
    // two steps are 1 and 134775814.
    RandomGenerator fresh;
    EXPECT_EQ(fresh.draw(0xFFFFFFFFu), 0u);
    EXPECT_EQ(fresh.state(), 1u);
    EXPECT_EQ(fresh.draw(0xFFFFFFFFu), 134775813u);
    // A copy looks ahead without moving the original on.
    RandomGenerator copy = fresh;
    copy.draw(5);
    EXPECT_EQ(fresh.state(), 134775814u);
}

TEST(PathText, EveryNameComesBackAsItsBytes)
{
    const QByteArray names[] = {
        "/home/ann/Documents",
        "caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80",        // UTF-8, up to four bytes a character
        "/home/\xe9t\xe9/Documents",                        // Latin-1
        "\xff\xfe\x80\xc0\xaf\xed\xa0\x80\xf4\x90\x80\x80", // never UTF-8: overlong, surrogate, too
                                                            // high
        "\xf0\x9f\x92\x80\x80", // a character whose low half looks kept, then a byte
        "cut \xe2\x82",         // a sequence that ends too early
    };
    for (const QByteArray &name : names) {
        const QString text = noggix::pathText(name);
        EXPECT_EQ(noggix::pathBytes(text), name) << name.toHex().constData();
    }
    EXPECT_EQ(noggix::pathText("caf\xc3\xa9"), QStringLiteral("caf\u00e9"));
    EXPECT_EQ(noggix::pathText("\xe9t\xe9").size(), 3);
    EXPECT_EQ(noggix::pathDisplay(noggix::pathText("/\xe9t\xe9/\xf0\x9f\x92\x80")),
              QStringLiteral("/\uFFFDt\uFFFD/") + QString::fromUtf8("\xf0\x9f\x92\x80"));

    // Text typed around a kept byte keeps it.
    QString edited = noggix::pathText("/home/\xe9t\xe9");
    edited += QStringLiteral("/\u00e9t\u00e9.brains");
    EXPECT_EQ(noggix::pathBytes(edited), QByteArray("/home/\xe9t\xe9/\xc3\xa9t\xc3\xa9.brains"));
}

// Sets HOME and XDG_CONFIG_HOME for one case, and puts them back after it.
class DocumentsFolder : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_home = qgetenv("HOME");
        m_config = qgetenv("XDG_CONFIG_HOME");
        qunsetenv("XDG_CONFIG_HOME");
    }
    void TearDown() override
    {
        qputenv("HOME", m_home);
        m_config.isNull() ? qunsetenv("XDG_CONFIG_HOME") : qputenv("XDG_CONFIG_HOME", m_config);
    }
    // Writes a user-dirs.dirs file of text into home's .config.
    static void UserDirs(const QByteArray &home, const QByteArray &text)
    {
        QDir().mkpath(QFile::decodeName(home + "/.config"));
        QFile file(QFile::decodeName(home + "/.config/user-dirs.dirs"));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(text);
    }

    QTemporaryDir dir;

private:
    QByteArray m_home;
    QByteArray m_config;
};

TEST_F(DocumentsFolder, FoundAsQtFindsItWhereTheNameIsText)
{
    const QByteArray top = QFile::encodeName(dir.path());
    const auto same = [](const QByteArray &home) {
        qputenv("HOME", home);
        EXPECT_EQ(noggix::documentsFolder(),
                  QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation))
            << home.constData();
    };
    same(top + "/plain");
    same(top + "/slash/");
    UserDirs(top + "/listed", "# comment\nXDG_DESKTOP_DIR=\"$HOME/Desk\"\n"
                              "XDG_DOCUMENTS_DIR=\"$HOME/Docs/\"\n");
    same(top + "/listed");
    UserDirs(top + "/absolute", "XDG_DOCUMENTS_DIR=\"/srv/documents\"\n");
    same(top + "/absolute");
    EXPECT_EQ(noggix::documentsFolder(), QStringLiteral("/srv/documents"));
}

TEST_F(DocumentsFolder, AHomeThatIsNotUtf8LeadsToItself)
{
    const QByteArray home = QFile::encodeName(dir.path()) + "/\xe9t\xe9";
    qputenv("HOME", home);
    EXPECT_EQ(noggix::documentsFolderBytes(), home + "/Documents");
    EXPECT_EQ(noggix::pathBytes(noggix::defaultBackupPath(noggix::documentsFolder())),
              home + "/Documents/mybrain.brains");

    ASSERT_EQ(::mkdir(home.constData(), 0700), 0);
    ASSERT_EQ(::mkdir((home + "/.config").constData(), 0700), 0);
    QFile dirs;
    const int fd =
        ::open((home + "/.config/user-dirs.dirs").constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ASSERT_TRUE(dirs.open(fd, QIODevice::WriteOnly, QFileDevice::AutoCloseHandle));
    dirs.write("XDG_DOCUMENTS_DIR=\"$HOME/D\xf6kumente\"\n");
    dirs.close();
    EXPECT_EQ(noggix::documentsFolderBytes(), home + "/D\xf6kumente");
}

TEST(DefaultPath, OneSlashBeforeTheFileName)
{
    EXPECT_EQ(noggix::defaultBackupPath("/home/ann/Documents"),
              "/home/ann/Documents/mybrain.brains");
    EXPECT_EQ(noggix::defaultBackupPath("/home/ann/Documents/"),
              "/home/ann/Documents/mybrain.brains");
    EXPECT_EQ(noggix::defaultBackupPath("/"), "/mybrain.brains");
    EXPECT_EQ(noggix::defaultBackupPath(""), "/mybrain.brains");
}

TEST(ScreenFit, MovesOnlyAsFarAsItTakesAndCutsWhatIsTooLarge)
{
    using noggix::fitWithin;
    const QRect desktop(0, 0, 1280, 1024);
    const QRect designed(192, 114, 812, 516);
    EXPECT_EQ(fitWithin(designed, desktop), designed);
    // Too far right, too far down, off the top-left, below a panel at the top of the screen.
    EXPECT_EQ(fitWithin(designed, QRect(0, 0, 900, 1024)), QRect(88, 114, 812, 516));
    EXPECT_EQ(fitWithin(designed, QRect(0, 0, 1280, 600)), QRect(192, 84, 812, 516));
    EXPECT_EQ(fitWithin(QRect(-50, -20, 812, 516), desktop), QRect(0, 0, 812, 516));
    EXPECT_EQ(fitWithin(QRect(192, 10, 812, 516), QRect(0, 30, 1280, 994)),
              QRect(192, 30, 812, 516));
    // Larger than the area: as large as the area, and within it.
    EXPECT_EQ(fitWithin(designed, QRect(0, 0, 640, 450)), QRect(0, 0, 640, 450));
    EXPECT_EQ(fitWithin(designed, QRect(1280, 0, 640, 450)), QRect(1280, 0, 640, 450));
}

TEST(FailureReport, PeriodOnlyAfterCharactersAboveThePeriod)
{
    EXPECT_EQ(noggix::failureReportText("Stream write error"), "Stream write error.");
    EXPECT_EQ(noggix::failureReportText("Error 5"), "Error 5.");
    EXPECT_EQ(noggix::failureReportText("Cannot create file \"x\". Denied"),
              "Cannot create file \"x\". Denied.");
    EXPECT_EQ(noggix::failureReportText("(see above)"), "(see above)");
    EXPECT_EQ(noggix::failureReportText("trailing blank "), "trailing blank ");
    EXPECT_EQ(noggix::failureReportText("done."), "done.");
    EXPECT_EQ(noggix::failureReportText("a-"), "a-");
    EXPECT_EQ(noggix::failureReportText("a/"), "a/.");
    EXPECT_EQ(noggix::failureReportText(""), "");
}
