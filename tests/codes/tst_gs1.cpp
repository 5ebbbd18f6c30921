// GS1 element strings: the checks against the AI table (element strings of
// the GS1 General Specifications and the GS1 DataMatrix Guideline), the bytes
// given to libdmtx, and what zxing-cpp reads back from the printed code.

#include "codes/encoding.h"
#include "codes/fonttext.h"
#include "codes/gs1.h"
#include "codes/libraries.h"
#include "codes/verify.h"

#include <QTest>

using namespace codiflux;

namespace {

QByteArray gs(const char* text)
{
    return QByteArray(text).replace('|', gs1::kGroupSeparator);
}

}  // namespace

class TestGs1 : public QObject {
    Q_OBJECT

private slots:
    void check_data();
    void check();
    void separators_data();
    void separators();
    void readBack_data();
    void readBack();
};

// An empty fault: the element string is accepted.
void TestGs1::check_data()
{
    QTest::addColumn<QByteArray>("value");
    QTest::addColumn<QString>("fault");
    const struct {
        const char* value;
        const char* fault;
    } rows[] = {
        {"(01)09506000134352(17)201225(10)ABC123", ""},
        {"(01)03453120000011(17)250101(10)LOT42", ""},
        {"(00)376104250021234569", ""},
        {"(00)106141412345678908(02)10614141000002(37)24", ""},
        {"(414)5412345000013(254)A1", ""},
        {"(253)4719512002889ABC", ""},
        {"(01)09521234543213(3103)000189(15)240229(21)12345", ""},
        {"(17)250100", ""},  // day 00: the last day of the month
        {"(8010)A-1/#", ""},
        {"(91)!\"%&'*+,-./:;<=>?_z", ""},
        {"(01)09506000134351", "(01) : chiffre de contrôle 2 attendu, 1 trouvé"},
        {"(00)376104250021234561", "(00) : chiffre de contrôle 9 attendu, 1 trouvé"},
        {"(414)5412345000014", "(414) : chiffre de contrôle 3 attendu, 4 trouvé"},
        {"(253)4719512002880", "(253) : chiffre de contrôle 9 attendu, 0 trouvé"},
        {"(17)251301", "(17) : date « 251301 » invalide (AAMMJJ attendu)"},
        {"(11)250230", "(11) : date « 250230 » invalide (AAMMJJ attendu)"},
        {"(15)250229", "(15) : date « 250229 » invalide (AAMMJJ attendu)"},
        {"(01)0950600013435", "(01) : 14 caractères attendus, 13 trouvés"},
        {"(10)ABCDEFGHIJKLMNOPQRSTU", "(10) : 20 caractères au plus, 21 trouvés"},
        {"(01)0950600013435A", "(01) : « A » n'est pas un chiffre (position 14)"},
        {"(10)AB#", "(10) : le caractère « # » n'appartient pas au jeu de caractères GS1 (position 3)"},
        {"(21)A B", "(21) : le caractère «   » n'appartient pas au jeu de caractères GS1 (position 2)"},
        {"(8010)ab", "(8010) : le caractère « a » n'appartient pas au jeu de caractères GS1 (position 1)"},
        {"(10)", "(10) : donnée vide"},
        {"(23)1", "identifiant d'application (23) inconnu"},
        {"(01)09506000134352(10", "« ) » manquante après « (10 »"},
        {"2312345", "identifiant d'application inconnu au début de « 2312345 »"},
        {"01095060001343521", "identifiant d'application inconnu au début de « 1 »"},
        {"", "valeur GS1 vide"},
    };
    for (const auto& row : rows)
        QTest::newRow(row.value) << QByteArray(row.value) << QString::fromUtf8(row.fault);
}

void TestGs1::check()
{
    QFETCH(QByteArray, value);
    QFETCH(QString, fault);
    std::vector<gs1::Element> elements;
    QCOMPARE(gs1::parse(value, elements).text, fault);
    QCOMPARE(elements.empty(), !fault.isEmpty());
}

// Bracketed and raw forms of one element string give the same bytes: FNC1
// first, FNC1 after a variable-length element in the middle, none at the end
// nor after an element of a predefined length.
void TestGs1::separators_data()
{
    QTest::addColumn<QByteArray>("bracketed");
    QTest::addColumn<QByteArray>("raw");
    QTest::addColumn<QByteArray>("library");
    QTest::addColumn<QByteArray>("hri");
    const char* const rows[][5] = {
        // '|' stands for GS
        {"variable last", "(01)03453120000011(17)250101(10)LOT42", "01034531200000111725010110LOT42",
         "|01034531200000111725010110LOT42", "(01) 03453120000011 (17) 250101 (10) LOT42"},
        {"variable in the middle", "(10)ABC123(21)XYZ(17)251231", "10ABC123|21XYZ|17251231", "|10ABC123|21XYZ|17251231",
         "(10) ABC123 (21) XYZ (17) 251231"},
        {"GS after a fixed length", "(01)09506000134352(21)S1", "|0109506000134352|21S1", "|010950600013435221S1",
         "(01) 09506000134352 (21) S1"},
        {"fixed, not predefined", "(422)250(10)A", "422250|10A", "|422250|10A", "(422) 250 (10) A"},
        {"decimal weight", "(3103)000189(400)PO-1(7003)2501011230", "3103000189400PO-1|70032501011230",
         "|3103000189400PO-1|70032501011230", "(3103) 000189 (400) PO-1 (7003) 2501011230"},
    };
    for (const auto& row : rows)
        QTest::newRow(row[0]) << QByteArray(row[1]) << gs(row[2]) << gs(row[3]) << QByteArray(row[4]);
}

void TestGs1::separators()
{
    QFETCH(QByteArray, bracketed);
    QFETCH(QByteArray, raw);
    QFETCH(QByteArray, library);
    QFETCH(QByteArray, hri);
    std::vector<gs1::Element> fromBracketed;
    std::vector<gs1::Element> fromRaw;
    QVERIFY(!gs1::parse(bracketed, fromBracketed) && !gs1::parse(raw, fromRaw));
    QCOMPARE(gs1::libraryBytes(fromBracketed), library);
    QCOMPARE(gs1::libraryBytes(fromRaw), library);
    QCOMPARE(gs1::humanReadable(fromRaw), hri);
}

// zxing-cpp (and libdmtx's reader for the 144x144 symbol) reports "]d2" and
// the element string with its GS separators, in every scheme that carries FNC1.
void TestGs1::readBack_data()
{
    QTest::addColumn<int>("scheme");
    QTest::addColumn<int>("size");
    QTest::addColumn<QByteArray>("value");
    const QByteArray value("(01)03453120000011(10)ABC123(17)250101(21)12345678");
    for (const Choice& c : datamatrixSchemeChoices())
        if (c.value != DmtxSchemeEdifact)
            QTest::newRow(c.text) << c.value << int(DmtxSymbolSquareAuto) << value;
    QTest::newRow("144x144") << int(DmtxSchemeAscii) << int(DmtxSymbol144x144) << value;
    QTest::newRow("one element") << int(DmtxSchemeAutoBest) << int(DmtxSymbolRectAuto)
                                 << QByteArray("(01)09506000134352");
}

void TestGs1::readBack()
{
    QFETCH(int, scheme);
    QFETCH(int, size);
    QFETCH(QByteArray, value);
    EncodingParameters parameters;
    parameters.scheme = scheme;
    parameters.sizeRequest = size;
    parameters.fnc1 = gs1::kFnc1Byte;
    std::vector<gs1::Element> elements;
    QVERIFY(!gs1::parse(value, elements));
    EncodedSymbol symbol;
    QVERIFY(!Encoder(parameters).encode(gs1::libraryBytes(elements), symbol));
    const int w = symbol.grid().width();
    const int h = symbol.grid().height();
    const FontTextOptions options;
    const FontText text = toFontText(symbol.grid(), w, h, options, false);
    FieldTextDecoder decoder(w, h, options, Symbology::Datamatrix);
    decoder.setGs1(true);
    const std::optional<QByteArray> read = decoder.decode(text.field);
    QVERIFY(read);
    QCOMPARE(decoder.symbologyIdentifier(), QByteArray(gs1::kSymbologyIdentifier));
    QCOMPARE(*read, gs1::elementString(elements));  // the GS separators included
}

QTEST_GUILESS_MAIN(TestGs1)
#include "tst_gs1.moc"
