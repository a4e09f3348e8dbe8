#include "validation/transaction.h"

#include <QCoreApplication>
#include <QJsonDocument>
#include <QTest>
#include <QTranslator>

#include <limits>

namespace {

QJsonObject json(const char *text)
{
    return QJsonDocument::fromJson(text).object();
}

// Answers every text of one context with a marker, to see which context a lookup uses.
class MarkingTranslator : public QTranslator
{
public:
    QString translate(const char *context, const char *sourceText, const char *, int) const override
    {
        if (qstrcmp(context, "Transaction") == 0)
            return QStringLiteral("el:") + QString::fromUtf8(sourceText);
        return QString();
    }
    bool isEmpty() const override { return false; }
};

} // namespace

class TestTransaction : public QObject
{
    Q_OBJECT

private slots:
    void defaultRecordMapsToDefaults();
    void mapHasExactlyTheSceneKeys();
    void barcodeTicketDetails();
    void storedValueDetails_data();
    void storedValueDetails();
    void storedValueBalancesDoNotOverflow_data();
    void storedValueBalancesDoNotOverflow();
    void periodPassDetails_data();
    void periodPassDetails();
    void storedJourneysDetails_data();
    void storedJourneysDetails();
    void electronicPurseDetails();
    void unlistedCodesGiveDefaults_data();
    void unlistedCodesGiveDefaults();
    void denyReasons_data();
    void denyReasons();
    void denyReasonsAreTranslatedInTheirContext();
    void convertTimestamp_data();
    void convertTimestamp();
    void copyOutlivesTheOriginal();
};

// An empty record reads as not valid, type 0, "Unknown Error" and the seven default details.
void TestTransaction::defaultRecordMapsToDefaults()
{
    const Transaction transaction;
    const QVariantMap map = transaction.toMap();
    QCOMPARE(map.value("valid").toBool(), false);
    QCOMPARE(map.value("type").toInt(), 0);
    QCOMPARE(map.value("denyReasonId").toInt(), 0);
    QCOMPARE(map.value("denyReason").toString(), QString("Unknown Error"));
    QCOMPARE(map.value("fareProduct").toString(), QString());
    QCOMPARE(map.value("passengeType").toString(), QString());
    QCOMPARE(map.value("details").toMap(), transaction.defaultDetails());
    QCOMPARE(transaction.defaultDetails().size(), 7);
    QVERIFY(transaction.ticket().isEmpty());
}

// The scene reads seven keys, the passenger type under "passengeType".
void TestTransaction::mapHasExactlyTheSceneKeys()
{
    const Transaction transaction(json(R"({"result": true, "type": 8, "fareProductName": "Monthly",
        "passengerTypeName": "Student", "ticketId": "T1"})"), nullptr);
    const QVariantMap map = transaction.toMap();
    QStringList keys = map.keys();
    keys.sort();
    QCOMPARE(keys, QStringList({"denyReason", "denyReasonId", "details", "fareProduct", "passengeType", "type", "valid"}));
    QCOMPARE(map.value("passengeType").toString(), QString("Student"));
    QCOMPARE(map.value("fareProduct").toString(), QString("Monthly"));
    QCOMPARE(map.value("type").toInt(), 8);
    QCOMPARE(transaction.ticketId(), QString("T1"));
}

// Code 0 takes the stops and the transfer window from "barcode".
void TestTransaction::barcodeTicketDetails()
{
    const Transaction transaction(json(R"({"type": 0, "barcode": {"fromStopGroupName": "Port",
        "toStopGroupName": "Airport", "transferRemainingMin": 45}})"), nullptr);
    const QVariantMap details = transaction.details();
    QCOMPARE(details.value("fromStopGroupName").toString(), QString("Port"));
    QCOMPARE(details.value("toStopGroupName").toString(), QString("Airport"));
    QCOMPARE(details.value("transferRemainingMin").toInt(), 45);
    QCOMPARE(details.value("deducted").toDouble(), 0.0);
}

void TestTransaction::storedValueDetails_data()
{
    QTest::addColumn<int>("code");
    QTest::newRow("2") << 2;
    QTest::newRow("15") << 15;
}

// Codes 2 and 15 show the debit and the balance left, from cents.
void TestTransaction::storedValueDetails()
{
    QFETCH(int, code);
    QJsonObject object = json(R"({"card": {"balanceBefore": 1000, "balanceAfter": 880}})");
    object.insert("type", code);
    const QVariantMap details = Transaction(object, nullptr).details();
    QCOMPARE(details.value("deducted").toDouble(), 1.2);
    QCOMPARE(details.value("remaining").toDouble(), 8.8);
    QCOMPARE(details.value("deducted").userType(), int(QMetaType::Double));
}

void TestTransaction::storedValueBalancesDoNotOverflow_data()
{
    QTest::addColumn<QByteArray>("card");
    QTest::addColumn<double>("deducted");
    QTest::addColumn<double>("remaining");
    QTest::newRow("beyond int") << QByteArray(R"({"balanceBefore": 4294967396, "balanceAfter": 100})")
                                << 42949672.96 << 1.0;
    QTest::newRow("difference beyond int") << QByteArray(R"({"balanceBefore": 2147483647, "balanceAfter": -2147483648})")
                                           << 42949672.95 << -21474836.48;
    QTest::newRow("not exact any more") << QByteArray(R"({"balanceBefore": 1e300, "balanceAfter": 500})")
                                        << -5.0 << 5.0;
    QTest::newRow("fraction of a cent") << QByteArray(R"({"balanceBefore": 10.5, "balanceAfter": 5})")
                                        << -0.05 << 0.05;
    QTest::newRow("text") << QByteArray(R"({"balanceBefore": "1000", "balanceAfter": 5})") << -0.05 << 0.05;
}

// Balances are read as 64-bit cents: large ones stay exact, unusable ones read as 0.
void TestTransaction::storedValueBalancesDoNotOverflow()
{
    QFETCH(QByteArray, card);
    QFETCH(double, deducted);
    QFETCH(double, remaining);
    QJsonObject object{{"type", 2}};
    object.insert("card", QJsonDocument::fromJson(card).object());
    const QVariantMap details = Transaction(object, nullptr).details();
    QCOMPARE(details.value("deducted").toDouble(), deducted);
    QCOMPARE(details.value("remaining").toDouble(), remaining);
}

void TestTransaction::periodPassDetails_data()
{
    QTest::addColumn<QByteArray>("pass");
    QTest::addColumn<int>("minutes");
    QTest::newRow("null minutes, days") << QByteArray(R"({"remainingMinutes": null, "remainingDays": 3})") << 4320;
    QTest::newRow("no minutes, days") << QByteArray(R"({"remainingDays": 2})") << 2880;
    QTest::newRow("minutes win") << QByteArray(R"({"remainingMinutes": 90, "remainingDays": 3})") << 90;
    QTest::newRow("nothing") << QByteArray("{}") << 0;
    QTest::newRow("days beyond an int of minutes")
            << QByteArray(R"({"remainingDays": 2000000000})") << std::numeric_limits<int>::max();
}

// Code 8 shows whole minutes left and an expiry that many minutes from now.
void TestTransaction::periodPassDetails()
{
    QFETCH(QByteArray, pass);
    QFETCH(int, minutes);
    QJsonObject periodPass = QJsonDocument::fromJson(pass).object();
    periodPass.insert("activationTimestamp", "2024-02-04T10:41:23Z");
    const QJsonObject object{{"type", 8}, {"card", QJsonObject{{"periodPass", periodPass}}}};

    const QDateTime before = QDateTime::currentDateTime();
    const QVariantMap details = Transaction(object, nullptr).details();
    const QDateTime after = QDateTime::currentDateTime();

    QCOMPARE(details.value("remaining").userType(), int(QMetaType::Int));
    QCOMPARE(details.value("remaining").toInt(), minutes);
    const QDateTime expires = details.value("expires").toDateTime();
    QVERIFY(expires.isValid());
    QVERIFY(expires >= before.addSecs(qint64(minutes) * 60));
    QVERIFY(expires <= after.addSecs(qint64(minutes) * 60));
    QCOMPARE(details.value("activationTimestamp").toDateTime(),
             QDateTime(QDate(2024, 2, 4), QTime(10, 41, 23), Qt::UTC));
}

void TestTransaction::storedJourneysDetails_data()
{
    QTest::addColumn<int>("code");
    QTest::newRow("5") << 5;
    QTest::newRow("12") << 12;
    QTest::newRow("16") << 16;
}

// Codes 5, 12 and 16 show the journeys left, the activation and the transfer window.
void TestTransaction::storedJourneysDetails()
{
    QFETCH(int, code);
    QJsonObject object = json(R"({"card": {"balanceBefore": 900, "balanceAfter": 100, "storedJourneys":
        {"activationTimestamp": "2024-02-04T10:41:23Z", "after": 7, "transferRemainingMin": 60}}})");
    object.insert("type", code);
    const QVariantMap details = Transaction(object, nullptr).details();
    QCOMPARE(details.value("remaining").userType(), int(QMetaType::Int));
    QCOMPARE(details.value("remaining").toInt(), 7);
    QCOMPARE(details.value("transferRemainingMin").toInt(), 60);
    QCOMPARE(details.value("deducted").toDouble(), 0.0);
    QCOMPARE(details.value("activationTimestamp").toDateTime(),
             QDateTime(QDate(2024, 2, 4), QTime(10, 41, 23), Qt::UTC));
}

// Code 14 shows the balance left and the transfer window, and a deduction of integer 0.
void TestTransaction::electronicPurseDetails()
{
    const Transaction transaction(json(R"({"type": 14, "card": {"balanceBefore": 1000, "balanceAfter": 880,
        "ePurse": {"transferRemainingMin": 25}}})"), nullptr);
    const QVariantMap details = transaction.details();
    QCOMPARE(details.value("deducted").userType(), int(QMetaType::Int));
    QCOMPARE(details.value("deducted").toInt(), 0);
    QCOMPARE(details.value("remaining").toDouble(), 8.8);
    QCOMPARE(details.value("transferRemainingMin").toInt(), 25);
}

void TestTransaction::unlistedCodesGiveDefaults_data()
{
    QTest::addColumn<QJsonValue>("code");
    QTest::newRow("3") << QJsonValue(3);
    QTest::newRow("1") << QJsonValue(1);
    QTest::newRow("17") << QJsonValue(17);
    QTest::newRow("negative") << QJsonValue(-2);
    QTest::newRow("beyond int") << QJsonValue(1e12);
}

// Codes the screens do not tell apart carry the default details only.
void TestTransaction::unlistedCodesGiveDefaults()
{
    QFETCH(QJsonValue, code);
    QJsonObject object = json(R"({"card": {"balanceBefore": 1000, "balanceAfter": 880, "ePurse":
        {"transferRemainingMin": 5}}, "barcode": {"fromStopGroupName": "Port"}})");
    object.insert("type", code);
    const Transaction transaction(object, nullptr);
    if (code.toDouble() < 1e9)
        QCOMPARE(transaction.details(), transaction.defaultDetails());
    else
        QCOMPARE(transaction.details().value("fromStopGroupName").toString(), QString("Port"));
}

void TestTransaction::denyReasons_data()
{
    QTest::addColumn<QByteArray>("transaction");
    QTest::addColumn<QString>("text");
    auto row = [](const char *name, int id, const char *text) {
        QTest::newRow(name) << QJsonDocument(QJsonObject{{"denyReason", QJsonObject{{"id", id}}}}).toJson()
                            << QString(text);
    };
    row("100", 100, "The ticket is invalid");
    row("103", 103, "The ticket has already been validated");
    row("110", 110, "The ticket has invalid timestamp");
    row("111", 111, "Unknown Error");
    row("207", 207, "The card has already been validated");
    row("209", 209, "The card does not belong to this operator");
    row("210", 210, "Unknown Error");
    row("249", 249, "Unknown Error");
    row("250", 250, "The card is blocked");
    row("252", 252, "The card is blocked");
    row("255", 255, "The card is blocked");
    row("256", 256, "Unknown Error");
    row("301", 301, "The product is not yet active");
    row("500", 500, "Internal Error");
    QTest::newRow("valid, no reason") << QByteArray(R"({"result": true})") << QString("Unknown Error");
    QTest::newRow("id as text") << QByteArray(R"({"denyReason": {"id": "100"}})") << QString("Unknown Error");
}

// Deny ids name their text; ids outside the table, and no id at all, give "Unknown Error".
void TestTransaction::denyReasons()
{
    QFETCH(QByteArray, transaction);
    QFETCH(QString, text);
    QCOMPARE(Transaction(QJsonDocument::fromJson(transaction).object(), nullptr).denyReason(), text);
}

// The deny texts are looked up in the "Transaction" context of the catalogue.
void TestTransaction::denyReasonsAreTranslatedInTheirContext()
{
    MarkingTranslator translator;
    QCoreApplication::installTranslator(&translator);
    QCOMPARE(Transaction(json(R"({"denyReason": {"id": 252}})"), nullptr).denyReason(),
             QString("el:The card is blocked"));
    QCOMPARE(Transaction().denyReason(), QString("el:Unknown Error"));
    QCoreApplication::removeTranslator(&translator);
}

void TestTransaction::convertTimestamp_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QDateTime>("utc");
    QTest::newRow("winter") << "2024-02-04T10:41:23Z" << QDateTime(QDate(2024, 2, 4), QTime(10, 41, 23), Qt::UTC);
    // 03:30 on that day does not exist on the local clock; the instant must survive anyway.
    QTest::newRow("in the local spring-forward hour")
            << "2024-03-31T03:30:00Z" << QDateTime(QDate(2024, 3, 31), QTime(3, 30), Qt::UTC);
    QTest::newRow("offset instead of Z") << "2024-02-04T10:41:23+02:00" << QDateTime();
    QTest::newRow("blank for T") << "2024-02-04 10:41:23Z" << QDateTime();
    QTest::newRow("no such day") << "2024-02-30T10:41:23Z" << QDateTime();
    QTest::newRow("empty") << "" << QDateTime();
}

// UTC stamps come back as the same instant in local time; anything else is invalid.
void TestTransaction::convertTimestamp()
{
    QFETCH(QString, text);
    QFETCH(QDateTime, utc);
    const QDateTime local = Transaction::convertTimestamp(text);
    QCOMPARE(local.isValid(), utc.isValid());
    if (utc.isValid()) {
        QCOMPARE(local.timeSpec(), Qt::LocalTime);
        QCOMPARE(local.toUTC(), utc);
    }
    if (text == "2024-02-04T10:41:23Z")
        QCOMPARE(local.time(), QTime(12, 41, 23)); // the tests run on Athens time
}

// A copy keeps its data after the original, and the original's parent, are gone.
void TestTransaction::copyOutlivesTheOriginal()
{
    auto *parent = new QObject;
    auto *original = new Transaction(json(R"({"result": false, "type": 2, "denyReason": {"id": 205},
        "card": {"balanceBefore": 50, "balanceAfter": 50}})"), parent);
    const Transaction copy(*original);
    const QVariant carried = QVariant::fromValue(*original);
    delete parent;
    QCOMPARE(copy.parent(), nullptr);
    QCOMPARE(copy.denyReason(), QString("The card does not have sufficient balance"));
    QCOMPARE(carried.value<Transaction>().details().value("remaining").toDouble(), 0.5);
}

QTEST_GUILESS_MAIN(TestTransaction)
#include "tst_transaction.moc"
