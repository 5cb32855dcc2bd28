// One copy per user, with two (and more) real processes of the program.

#include "GuiSupport.h"

#include "TempDir.h"

#include <QFileInfo>
#include <QLocalSocket>
#include <QProcess>
#include <sys/stat.h>

namespace {

class SingleInstanceTest : public ::testing::Test {
protected:
    // Every process of a test shares one private runtime folder, so that
    // other programs (and other test runs) never meet these copies.
    std::unique_ptr<QProcess> Start()
    {
        auto P = std::make_unique<QProcess>();
        QProcessEnvironment Env = QProcessEnvironment::systemEnvironment();
        Env.insert(QStringLiteral("XDG_RUNTIME_DIR"), QString::fromStdString(Dir.Path()));
        Env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        Env.insert(QStringLiteral("QT_LOGGING_RULES"), QStringLiteral("veldra.instance.info=true"));
        Env.insert(QStringLiteral("VELDRA_EXTRA_PORTS"), QString());
        P->setProcessEnvironment(Env);
        P->setProcessChannelMode(QProcess::SeparateChannels);
        P->start(QStringLiteral(VELDRA_UPDATE_PATH), {});
        EXPECT_TRUE(P->waitForStarted(10000));
        return P;
    }

    QString SocketPath() const { return QString::fromStdString(Dir.File("Veldra-Update")); }

    // The first copy listens once a connection succeeds (each try also asks
    // it to come to the front, which does no harm).
    bool WaitListening()
    {
        return WaitUntil(
            [&] {
                QLocalSocket S;
                S.connectToServer(SocketPath());
                return S.waitForConnected(200);
            },
            30000);
    }

    // Reads the first copy's log until Text appears.
    static bool WaitLog(QProcess &P, QByteArray &Log, const char *Text)
    {
        return WaitUntil([&] {
            P.waitForReadyRead(50);
            Log += P.readAllStandardError();
            return Log.contains(Text);
        });
    }

    TTempDir Dir;
};

TEST_F(SingleInstanceTest, SecondStartRaisesTheFirstAndEndsSilently)
{
    auto First = Start();
    ASSERT_TRUE(WaitListening());
    QByteArray FirstLog;
    ASSERT_TRUE(WaitLog(*First, FirstLog, "brought to front"));  // from WaitListening's probe
    FirstLog.clear();

    // The socket is reachable by its owner only.
    struct stat St {};
    ASSERT_EQ(::stat(QFile::encodeName(SocketPath()).constData(), &St), 0);
    EXPECT_TRUE(S_ISSOCK(St.st_mode));
    EXPECT_EQ(St.st_mode & 077, 0u) << std::oct << St.st_mode;

    auto Second = Start();
    ASSERT_TRUE(Second->waitForFinished(30000));
    EXPECT_EQ(Second->exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(Second->exitCode(), 0);
    EXPECT_TRUE(Second->readAllStandardOutput().isEmpty());
    EXPECT_FALSE(Second->readAllStandardError().contains("listening"));

    EXPECT_TRUE(WaitLog(*First, FirstLog, "another copy started"));
    EXPECT_TRUE(WaitLog(*First, FirstLog, "brought to front"));
    EXPECT_EQ(First->state(), QProcess::Running);
    First->kill();
    First->waitForFinished(10000);
}

TEST_F(SingleInstanceTest, SocketLeftByACrashDoesNotBlockTheNextStart)
{
    auto Crashed = Start();
    ASSERT_TRUE(WaitListening());
    Crashed->kill();  // SIGKILL: no clean-up, the socket file stays
    ASSERT_TRUE(Crashed->waitForFinished(10000));
    ASSERT_TRUE(QFileInfo::exists(SocketPath()));

    auto Next = Start();
    ASSERT_TRUE(WaitListening()) << "the next start did not take over";
    EXPECT_EQ(Next->state(), QProcess::Running);

    // And it is the one instance now: a further start ends at once.
    auto Third = Start();
    ASSERT_TRUE(Third->waitForFinished(30000));
    EXPECT_EQ(Third->exitCode(), 0);
    EXPECT_EQ(Next->state(), QProcess::Running);
    Next->kill();
    Next->waitForFinished(10000);
}

}  // namespace
