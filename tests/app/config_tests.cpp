#include <gtest/gtest.h>

#include <QFile>
#include <QStringEncoder>
#include <QTemporaryDir>
#include <random>
#include <vector>

#include "lee_ini.h"
#include "startup_config.h"

namespace {

// A scratch working directory holding at most one configuration file.
class IniDir {
public:
    QDir dir() const { return QDir(tmp_.path()); }
    void write(const QByteArray& content, const QString& name = QStringLiteral("modbus.ini")) {
        QFile file(dir().filePath(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(content);
    }

private:
    QTemporaryDir tmp_;
};

StartupConfig okConfig(const std::variant<StartupConfig, ConfigError>& result) {
    if (const auto* error = std::get_if<ConfigError>(&result))
        ADD_FAILURE() << error->message.toStdString();
    return std::get_if<StartupConfig>(&result) ? std::get<StartupConfig>(result) : StartupConfig{};
}

// The whole start-up read, as the station makes it around opening the link.
std::variant<StartupConfig, ConfigError> readStartupConfig(const QDir& dir) {
    auto link = readLinkConfig(dir);
    if (auto* failure = std::get_if<ConfigError>(&link)) return *failure;
    return readRemainingConfig(std::get<StartupConfig>(link), dir);
}

QString errorText(const std::variant<StartupConfig, ConfigError>& result) {
    const auto* error = std::get_if<ConfigError>(&result);
    return error ? error->message : QString();
}

// What LeeIni gives for `key` of [global] in `content`, with "D" as the default.
QString lee(const QByteArray& content, const char* key = "Timer") {
    return storedValue(iniValue(content, QStringLiteral("global"), QString::fromLatin1(key)),
                       QStringLiteral("D"));
}

}  // namespace

TEST(LeeIni, FindsTheFileWhateverTheCaseOfItsNameButOnlyInTheGivenDirectory) {
    for (const char* name : {"MODBUS.INI", "Modbus.ini", "modbus.ini"}) {
        IniDir ini;
        ini.write("[GLOBAL]\r\nTimer=250x\r\n", QString::fromLatin1(name));
        EXPECT_EQ(findIniFile(ini.dir()), name);
        EXPECT_EQ(LeeIni("global", "timer", "D", ini.dir()), "250") << name;
    }
    IniDir parent;
    parent.write("[global]\nTimer=250x\n");
    ASSERT_TRUE(parent.dir().mkdir("run"));
    ASSERT_TRUE(parent.dir().mkpath("sub/modbus.ini"));
    EXPECT_EQ(LeeIni("global", "Timer", "D", QDir(parent.dir().filePath("run"))), "D");
    EXPECT_EQ(findIniFile(QDir(parent.dir().filePath("sub"))), "");  // a directory, not a file
}

TEST(LeeIni, ReadsLikeTheWindowsProfileCall) {
    const QByteArray bom = "\xEF\xBB\xBF";
    const QByteArray longValue(300, 'v');
    struct Case {
        QByteArray content;
        const char* key;
        QString expected;
    } cases[] = {
        {"[global]\nTimer=3000x\n", "Timer", "3000"},
        {"[global]\nTimer=3000\n", "Timer", "300"},  // no terminator: a digit is lost
        {"[global]\nTimer=1\n", "Timer", ""},        // empty text, not the default
        {"[global]\nTimer=\n", "Timer", "D"},
        {"[global]\nTimer\n", "Timer", "D"},
        {"[global]\nOther=1x\n", "Timer", "D"},
        {"[GloBaL]\r\n  tImEr  =  3000x  \r\n", "TIMER", "3000"},
        {bom + "[global]\r\nTimer=3000x\r\n", "Timer", "3000"},
        {"[global]\nTimer=\"3000x\"\n", "Timer", "3000"},
        {"[global]\nTimer='3000x'\n", "Timer", "3000"},
        {"[global]\nTimer=\"3000x'\n", "Timer", "\"3000x"},  // quotes that do not pair stay
        {"[global]\nTimer=\"\"\n", "Timer", "D"},
        {"[global]\n;Timer=1x\nTimer=2x\n", "Timer", "2"},
        {"[global]\nTimer=1x\nTimer=2x\n", "Timer", "1"},
        {"[global]\nA=1\n[other]\n[global]\nTimer=2x\n", "Timer", "D"},  // first section only
        {"Timer=1x\n[other]\nTimer=1x\n[global]\n", "Timer", "D"},
        {"[ global ]\nHost_1=a;b=c x\n", "Host_1", "a;b=c "},  // no inline comments
        {"[global\nTimer=1x\n", "Timer", "D"},
        {"[global]\nHost_1=caf\xE9x\n", "Host_1", QStringLiteral("café")},       // Latin-1
        {"[global]\nHost_1=caf\xC3\xA9x\n", "Host_1", QStringLiteral("café")},   // UTF-8
        {"[global]\nHost_1=\xC3x\n", "Host_1", QStringLiteral("Ã")},             // broken UTF-8
        {"[global]\nHost_1=" + longValue + "\n", "Host_1", QString(253, u'v')},  // 254, less 1
        {"[global]\nHost_1=a\xF0\x9F\x98\x80\n", "Host_1", "a"},  // one character, two units
        // A cut through a surrogate pair takes the whole character.
        {"[global]\nHost_1=" + longValue.first(253) + "\xF0\x9F\x98\x80x\n", "Host_1",
         QString(252, u'v')},
    };
    for (const Case& c : cases) EXPECT_EQ(lee(c.content, c.key), c.expected) << c.content.data();
}

// What each file gives; the link's keys are read only for the link chosen.
TEST(StartupConfig, ReadsTheKeysOfTheChosenLink) {
    struct Case {
        QByteArray content;
        int tcp;
        QString host;
        int port;
        QString device, baud;
        int decimals;
        int slave, timer;
    } cases[] = {
        {"", 0, "", 3000, "/dev/ttyS1", "9600", 0, 0, 500},  // no file: the defaults
        {"[global]\nComunicacion_1=1x\n", 1, kDefaultHost, 3000, "", "", 0, 0, 500},
        {"[global]\nComunicacion_1=-7x\n", -7, kDefaultHost, 3000, "", "", 0, 0, 500},
        {"[Global]\nComunicacion_1=1x\nHost_1=10.0.0.5x\nPort_1=65535x\nComm_1=abcx\n", 1,
         "10.0.0.5", 65535, "", "", 0, 0, 500},
        {"[Global]\nComunicacion_1=0x\nComm_1=3x\nBaudios_1=19200x\nPort_1=nonex\n", 0, "", 3000,
         "/dev/ttyS2", "19200", 0, 0, 500},
        // The port judges the baud text, not the reader; a slave of 300 is kept for the
        // transactions to refuse.
        {"[global]\nComm_1=/dev/ttyUSB0x\nBaudios_1=whateverx\nDecimales_1=3x\nID_1=300x\nTimer="
         "0x\n",
         0, "", 3000, "/dev/ttyUSB0", "whatever", 3, 300, 0},
    };
    for (const Case& c : cases) {
        IniDir ini;
        if (!c.content.isEmpty()) ini.write(c.content);
        const StartupConfig got = okConfig(readStartupConfig(ini.dir()));
        SCOPED_TRACE(c.content.data());
        EXPECT_EQ(got.TcpLink, c.tcp);
        EXPECT_EQ(got.host, c.host);
        EXPECT_EQ(got.port, c.port);
        EXPECT_EQ(got.commPort.isEmpty() ? QString() : serialPortName(got.commPort), c.device);
        EXPECT_EQ(got.baud, c.baud);
        EXPECT_EQ(got.Decimals, c.decimals);
        EXPECT_EQ(got.SlaveId, c.slave);
        EXPECT_EQ(got.timerInterval, c.timer);
    }
}

TEST(StartupConfig, EachBadValueNamesItsKeyAndValue) {
    struct Case {
        const char* key;
        const char* stored;  // with its terminator
        const char* shown;
    } cases[] = {
        {"Comunicacion_1", "abcx", "abc"},
        {"Comunicacion_1", "40000x", "40000"},
        {"Comunicacion_1", "1.0x", "1.0"},
        {"Comunicacion_1", "x", ""},
        {"Comunicacion_1", "1", ""},  // the lone digit is the dropped terminator
        {"Port_1", "0x", "0"},
        {"Port_1", "65536x", "65536"},
        {"Port_1", "-1x", "-1"},
        {"Port_1", "3000 x", "3000 "},
        {"Comm_1", "0x", "0"},
        {"Comm_1", "COM2x", "COM2"},
        {"Comm_1", "40000x", "40000"},
        {"Comm_1", "x", ""},
        {"Decimales_1", "-1x", "-1"},
        {"Decimales_1", "10x", "10"},
        {"Decimales_1", "twox", "two"},
        {"ID_1", "32768x", "32768"},
        {"ID_1", "+x", "+"},
        {"Timer", "-1x", "-1"},
        {"Timer", "65536x", "65536"},
        {"Timer", "1e3x", "1e3"},
        {"Timer", "0x10x", "0x10"},
        {"Timer", "--1x", "--1"},
        {"Timer", "\xD9\xA3x", "\xD9\xA3"},  // other scripts' digits are not numbers
        {"Timer", "99999999999999999999999x", "99999999999999999999999"},
        {"Tolerancia_1", "x", ""},
        {"Tolerancia_1", "-0.5x", "-0.5"},
        {"Tolerancia_1", "0.5 %x", "0.5 %"},
        {"Tolerancia_1", "1e-1x", "1e-1"},
        {"Tolerancia_1", "100.01x", "100.01"},
        {"Tolerancia_1", "0,5,0x", "0,5,0"},
        {"Tolerancia_1", ".5x", ".5"},
    };
    IniDir ini;
    for (const Case& c : cases) {
        const QByteArray link = QByteArray(c.key) == "Port_1" ? "Comunicacion_1=1x\n" : "";
        ini.write("[global]\n" + link + c.key + "=" + c.stored + "\n");
        const QString message = errorText(readStartupConfig(ini.dir()));
        EXPECT_TRUE(message.contains(QStringLiteral("\"%1\" = \"%2\"").arg(c.key, c.shown)))
            << c.key << " " << c.stored << ": " << message.toStdString();
    }
}

// Of the theoretical weight, written with a point or a comma; absent or 0: none.
TEST(StartupConfig, ReadsTheDoseTolerance) {
    const std::pair<QByteArray, double> cases[] = {
        {"[global]\nTimer=100x\n", 0},
        {"[Global]\nTolerancia_1=0.5;\n", 0.5},
        {"[global]\nTolerancia_1=0,25;\n", 0.25},
        {"[global]\nTolerancia_1=0;\n", 0},
        {"[global]\nTolerancia_1=100x\n", 100},
    };
    for (const auto& [content, percent] : cases) {
        IniDir ini;
        ini.write(content);
        EXPECT_DOUBLE_EQ(okConfig(readStartupConfig(ini.dir())).tolerancePercent, percent)
            << content.data();
    }
}

// [MQTT]: no server, no broker; defaults from the server alone; a CA turns TLS on and
// moves the default port; every value keeps the trailing-character rule.
TEST(StartupConfig, ReadsTheBrokerSection) {
    IniDir ini;
    ini.write("[Global]\nTimer=500x\n");
    EXPECT_FALSE(std::get<MqttConfig>(readMqttConfig(ini.dir())).enabled());

    ini.write("[MQTT]\nServidor=broker.planta;\n");
    const MqttConfig plain = std::get<MqttConfig>(readMqttConfig(ini.dir()));
    EXPECT_EQ(plain.host, "broker.planta");
    EXPECT_EQ(plain.port, 1883);
    EXPECT_FALSE(plain.tls());
    EXPECT_EQ(plain.topicRoot, defaultTopicRoot());
    EXPECT_EQ(plain.keepalive, 10);
    EXPECT_EQ(plain.maxPending, 1209600);

    ini.write("ca");
    QFile::rename(ini.dir().filePath("modbus.ini"), ini.dir().filePath("ca.pem"));
    ini.write(
        "[mqtt]\nServidor=b;\nUsuario=est;\nClave=s3;\nCA=ca.pem;\nTema=planta/l1;\n"
        "Keepalive=30;\nMaxPendientes=100;\n");
    const MqttConfig tls = std::get<MqttConfig>(readMqttConfig(ini.dir()));
    EXPECT_EQ(tls.port, 8883);
    EXPECT_EQ(tls.caFile, ini.dir().filePath("ca.pem"));
    EXPECT_EQ(tls.user, "est");
    EXPECT_EQ(tls.password, "s3");
    EXPECT_EQ(tls.topicRoot, "planta/l1");
    EXPECT_EQ(tls.keepalive, 30);
    EXPECT_EQ(tls.maxPending, 100);
}

// Each unusable [MQTT] value stops the start naming its key; the password's value is
// never in the message.
TEST(StartupConfig, EachBadBrokerValueNamesItsKey) {
    const char* cases[][2] = {
        {"Puerto=0;", "\"Puerto\" = \"0\""},
        {"Keepalive=4;", "\"Keepalive\" = \"4\""},
        {"MaxPendientes=0;", "\"MaxPendientes\" = \"0\""},
        {"Tema=planta/#;", "\"Tema\" = \"planta/#\""},
        {"Tema=planta/;", "\"Tema\" = \"planta/\""},
        {"Tema=;", "\"Tema\" = \"\""},
        {"CA=no-existe.pem;", "\"CA\" = \"no-existe.pem\""},
        {"Clave=secreta1;", "\"Clave\""},
    };
    IniDir ini;
    for (const auto& c : cases) {
        ini.write(QByteArray("[MQTT]\nServidor=b;\n") + c[0] + "\n");
        const auto result = readMqttConfig(ini.dir());
        const QString message =
            std::get_if<ConfigError>(&result) ? std::get<ConfigError>(result).message : QString();
        EXPECT_TRUE(message.contains(QString::fromUtf8(c[1]))) << c[0] << message.toStdString();
        EXPECT_FALSE(message.contains("secreta1"));
    }
}

// Hand-written files come in every shape: no text may crash the reader or break its
// length guarantee. The text goes to iniValue and storedValue, what LeeIni does with the
// file's bytes, in memory: a file for each case makes the run fifty times as long.
TEST(IniValue, SurvivesRandomAndMutatedText) {
    const QByteArray seeds[] = {
        "\xEF\xBB\xBF[Global]\r\nComunicacion_1=1x\r\nHost_1=\"10.0.0.1x\"\r\n",
        "[global]\nTimer='500x'\n;c\n[global]\nID_1=1x\n",
        "[global]\nHost_1=" + QByteArray(400, 'a') + "\n",
    };
    const char alphabet[] = "[]=;\"' \t\r\nTimerglobalx01\xEF\xBB\xBF\xC3\xA9\xF0\x9F\x98\x80\xFF";
    const QString keys[] = {"Timer", "ID_1", "Host_1", "Comunicacion_1", ""};
    std::mt19937 rng(12345);
    auto pick = [&](int n) { return int(rng() % unsigned(n)); };
    for (int i = 0; i < 300000; ++i) {
        QByteArray text = seeds[pick(3)];
        if (i % 4 == 0) text.clear();
        for (int m = pick(12); m >= 0; --m) {
            const int at = text.isEmpty() ? 0 : pick(int(text.size()));
            const char c = i % 8 == 0 ? char(rng()) : alphabet[pick(sizeof alphabet - 1)];
            if (pick(3) == 0 && !text.isEmpty())
                text.remove(at, 1 + pick(4));
            else
                text.insert(at, c);
        }
        const QString value = iniValue(text, pick(2) ? "global" : "", keys[pick(5)]);
        ASSERT_LE(value.size(), kIniValueMax) << text.toHex().data();
        ASSERT_LT(storedValue(value, {}).size(), kIniValueMax);
        ASSERT_TRUE(storedValue(value, {}).isValidUtf16());
    }
}

// Notepad's "Unicode" is UTF-16 with a byte-order mark; both byte orders read like any
// other file. Bytes that are no text stop start-up instead of passing for "no file".
TEST(StartupConfig, ReadsUtf16FilesAndRefusesWhatIsNoText) {
    const QString text = QStringLiteral(
        "[Global]\r\nComunicacion_1=1;\r\nHost_1=báscula-2;\r\nPort_1=502;\r\n"
        "Timer=250;\r\n");
    auto utf16 = [&](QStringConverter::Encoding e) {
        return QByteArray(QStringEncoder(e, QStringConverter::Flag::WriteBom).encode(text));
    };
    for (auto encoding : {QStringConverter::Utf16LE, QStringConverter::Utf16BE}) {
        IniDir ini;
        ini.write(utf16(encoding));
        const StartupConfig config = okConfig(readStartupConfig(ini.dir()));
        EXPECT_EQ(config.TcpLink, 1);
        EXPECT_EQ(config.host, QStringLiteral("báscula-2"));
        EXPECT_EQ(config.port, 502);
        EXPECT_EQ(config.timerInterval, 250);
    }
    const QByteArray noText[] = {
        utf16(QStringConverter::Utf16LE).sliced(2),   // UTF-16 without its mark
        utf16(QStringConverter::Utf16LE).chopped(1),  // half a character at the end
        QByteArray("\x7F"
                   "ELF\x02\x01\x01\x00\x00\x00",
                   10),
    };
    for (const QByteArray& content : noText) {
        IniDir ini;
        ini.write(content);
        EXPECT_TRUE(errorText(readStartupConfig(ini.dir())).contains("no es un fichero de texto"))
            << content.toHex().toStdString();
    }
}

namespace {

// Every module's keys, in the order the station reads them around opening the links.
std::variant<QList<StartupConfig>, ConfigError> readModules(const QDir& dir) {
    const auto count = readModuleCount(dir);
    if (auto* failure = std::get_if<ConfigError>(&count)) return *failure;
    QList<StartupConfig> modules;
    for (int n = 1; n <= std::get<int>(count); ++n) {
        auto link = readLinkConfig(dir, n);
        if (auto* failure = std::get_if<ConfigError>(&link)) return *failure;
        auto rest = readRemainingConfig(std::get<StartupConfig>(link), dir);
        if (auto* failure = std::get_if<ConfigError>(&rest)) return *failure;
        modules << std::get<StartupConfig>(rest);
    }
    if (auto shared = sharedAddress(modules)) return *shared;
    return modules;
}

QString modulesError(const QByteArray& content) {
    IniDir ini;
    ini.write(content);
    const auto result = readModules(ini.dir());
    const auto* error = std::get_if<ConfigError>(&result);
    return error ? error->message : QString();
}

}  // namespace

// A module's keys default to module 1's; those with equal link keys share one link.
TEST(StartupConfig, ModulesTakeModuleOnesKeysTheyLack) {
    IniDir ini;
    ini.write(
        "[Global]\nModulos=4;\nComunicacion_1=1;\nHost_1=10.0.0.9;\nPort_1=502;\nDecimales_1=2;\n"
        "Tolerancia_1=0,5;\nID_1=1;\nID_2=2;\nNombre_2=Silo Norte;\nDecimales_2=1;\n"
        "ID_3=3;\nPort_3=503;\nTolerancia_3=1;\nID_4=1;\nComunicacion_4=0;\nComm_4=/dev/"
        "ttyUSB0;\n");
    const auto result = readModules(ini.dir());
    ASSERT_TRUE(std::holds_alternative<QList<StartupConfig>>(result))
        << std::get<ConfigError>(result).message.toStdString();
    const auto& m = std::get<QList<StartupConfig>>(result);
    ASSERT_EQ(m.size(), 4);
    EXPECT_EQ(m[0].name, "Módulo 1");
    EXPECT_EQ(m[1].name, "Silo Norte");
    EXPECT_EQ(m[2].name, "Módulo 3");
    EXPECT_EQ((std::vector<int>{m[0].SlaveId, m[1].SlaveId, m[2].SlaveId, m[3].SlaveId}),
              (std::vector<int>{1, 2, 3, 1}));
    EXPECT_EQ((std::vector<int>{m[0].Decimals, m[1].Decimals, m[2].Decimals, m[3].Decimals}),
              (std::vector<int>{2, 1, 2, 2}));
    EXPECT_EQ(m[1].tolerancePercent, 0.5);
    EXPECT_EQ(m[2].tolerancePercent, 1.0);
    EXPECT_EQ(m[1].host, "10.0.0.9");
    EXPECT_EQ(m[2].port, 503);
    EXPECT_EQ(m[3].TcpLink, 0);
    EXPECT_EQ(m[3].baud, "9600");
    EXPECT_TRUE(sameLink(m[0], m[1]));
    EXPECT_FALSE(sameLink(m[0], m[2]));
    EXPECT_FALSE(sameLink(m[0], m[3]));  // same address, another line
}

TEST(StartupConfig, BadModuleKeysNameTheirKey) {
    const std::pair<QByteArray, QString> cases[] = {
        {"[global]\nModulos=0;\n", "\"Modulos\" = \"0\""},
        {"[global]\nModulos=9;\n", "\"Modulos\" = \"9\""},
        {"[global]\nModulos=3\n", "\"Modulos\" = \"\""},  // the lone digit is the terminator
        {"[global]\nModulos=2;\nID_1=1;\n", "\"ID_2\""},
        {"[global]\nModulos=2;\nID_1=1;\nID_2=1;\n",
         "\"ID_2\" = \"1\" (la misma dirección que \"ID_1\""},
        {"[global]\nModulos=3;\nID_1=1;\nID_2=2;\nID_3=2;\nPort_3=3001;\nComunicacion_1=1;\n"
         "Decimales_3=10;\n",
         "\"Decimales_3\" = \"10\""},
        {"[global]\nModulos=2;\nID_1=1;\nID_2=2;\nTolerancia_2=0.5 %;\n",
         "\"Tolerancia_2\" = \"0.5 %\""},
        {"[global]\nModulos=2;\nID_1=1;\nID_2=2;\nComm_2=COM3;\n", "\"Comm_2\" = \"COM3\""},
    };
    for (const auto& [content, expected] : cases)
        EXPECT_TRUE(modulesError(content).contains(expected))
            << content.data() << ": " << modulesError(content).toStdString();
    // Equal addresses on two lines are two modules; "Modulos=23" is two of them.
    EXPECT_EQ(modulesError("[global]\nModulos=23\nID_1=1;\nID_2=1;\nComunicacion_2=1;\n"), "");
}
