// The rules that write recognised Chinese text as its readers expect it: each rule's table
// holds what must change and what must not.
#include <QTemporaryDir>
#include <QtTest>

#include "core/chinesenumbers.h"
#include "core/chinesepunctuation.h"
#include "core/chinesescript.h"
#include "core/textrules.h"
#include "core/userterms.h"

using Target = ChineseScript::Target;
Q_DECLARE_METATYPE(Target)

class TextRulesTest : public QObject
{
    Q_OBJECT

private slots:
    void script_data();
    void script();
    void punctuation_data();
    void punctuation();
    void numbers_data();
    void numbers();
    void terms_data();
    void terms();
    void termsPromptStaysWithinTheLimit();
    void stepsRunInTheirOrder();
};

void TextRulesTest::script_data()
{
    QTest::addColumn<QString>("input");
    QTest::addColumn<Target>("target");
    QTest::addColumn<QString>("expected");
    const QString mixed = QStringLiteral("我們的软件在後台运行，头发乾了");
    QTest::newRow("mixed to simplified")
        << mixed << Target::Simplified << QStringLiteral("我们的软件在后台运行，头发干了");
    QTest::newRow("mixed to Taiwan, with its words")
        << mixed << Target::TraditionalTaiwan << QStringLiteral("我們的軟體在後臺執行，頭髮乾了");
    QTest::newRow("mixed to Hong Kong")
        << mixed << Target::TraditionalHongKong << QStringLiteral("我們的軟件在後台運行，頭髮乾了");
    QTest::newRow("a traditional character's reading is kept") << QStringLiteral(
        "衣服幹了嗎，乾了") << Target::TraditionalTaiwan << QStringLiteral("衣服幹了嗎，乾了");
    QTest::newRow("as given") << mixed << Target::AsGiven << mixed;
    QTest::newRow("a phrase decides the character")
        << QStringLiteral("乾隆皇帝") << Target::Simplified << QStringLiteral("乾隆皇帝");
    QTest::newRow("English untouched")
        << QStringLiteral("Hello, world.") << Target::TraditionalTaiwan
        << QStringLiteral("Hello, world.");
}

void TextRulesTest::script()
{
    QFETCH(QString, input);
    QFETCH(Target, target);
    QFETCH(QString, expected);
    QCOMPARE(ChineseScript::convert(input, target), expected);
    Target named;
    QVERIFY(ChineseScript::fromName(ChineseScript::name(target), &named));
    QCOMPARE(named, target);
}

void TextRulesTest::punctuation_data()
{
    QTest::addColumn<QString>("input");
    QTest::addColumn<QString>("expected");
    QTest::newRow("marks between Chinese")
        << QStringLiteral("你好,世界.今天怎么样?很好!注意:一;二")
        << QStringLiteral("你好，世界。今天怎么样？很好！注意：一；二");
    QTest::newRow("blanks around marks go")
        << QStringLiteral("你好 , 世界 . 再见") << QStringLiteral("你好，世界。再见");
    QTest::newRow("quotes and brackets pair")
        << QStringLiteral("他说\"好\"(真的)") << QStringLiteral("他说“好”（真的）");
    QTest::newRow("Latin word before a Chinese sentence's end")
        << QStringLiteral("我用Python.你呢?") << QStringLiteral("我用Python。你呢？");
    QTest::newRow("decimals, times, thousands stay") << QStringLiteral(
        "价格是3.5元,时间10:30,共1,000人") << QStringLiteral("价格是3.5元，时间10:30，共1,000人");
    QTest::newRow("URL and e-mail stay")
        << QStringLiteral("请看https://example.org/a?b=1,c.d 或写信给 li.ming@example.com.")
        << QStringLiteral("请看https://example.org/a?b=1,c.d 或写信给 li.ming@example.com.");
    QTest::newRow("a Latin sentence after a Chinese one")
        << QStringLiteral("你好. OK.") << QStringLiteral("你好。OK.");
    QTest::newRow("a number ends a Chinese sentence")
        << QStringLiteral("准确率95%.很好") << QStringLiteral("准确率95%。很好");
    QTest::newRow("inside Latin words")
        << QStringLiteral("用Node.js和e.g.写") << QStringLiteral("用Node.js和e.g.写");
    QTest::newRow("English sentence stays") << QStringLiteral("Hello, world. (Yes!) \"ok\"")
                                            << QStringLiteral("Hello, world. (Yes!) \"ok\"");
    QTest::newRow("English brackets in Chinese")
        << QStringLiteral("他说(see you)再见") << QStringLiteral("他说（see you）再见");
    QTest::newRow("an English quote beside Chinese stays")
        << QStringLiteral("said \"this\" 说") << QStringLiteral("said \"this\" 说");
    QTest::newRow("a mark before Chinese quotes")
        << QStringLiteral(":\"好\"") << QStringLiteral("：“好”");
    QTest::newRow("code stays") << QStringLiteral("运行 a(b, c); 即可")
                                << QStringLiteral("运行 a(b, c); 即可");
}

void TextRulesTest::punctuation()
{
    QFETCH(QString, input);
    QFETCH(QString, expected);
    QCOMPARE(ChinesePunctuation::apply(input), expected);
    QCOMPARE(ChinesePunctuation::apply(expected), expected);
}

void TextRulesTest::numbers_data()
{
    QTest::addColumn<QString>("input");
    QTest::addColumn<QString>("expected");
    const QStringList changed = QString::fromUtf8(
        "二〇二六年 2026年 一九九八年春 1998年春 百分之三十 30% 百分之三点五 3.5% 三点五 3.5 "
        "十五个 15个 两千零二十六年 2026年 一百零五人 105人 一百五十公里 150公里 三万五千人 "
        "35000人 "
        "十二月二十五日 12月25日 第二十三届 第23届 兩萬三千個 23000個 三點五 3.5")
                                    .split(QLatin1Char(' '));
    const QStringList unchanged = QString::fromUtf8(
        "一些 一样 十分 万一 三心二意 一个人 三天 三五个 三点五十分 一点一点地 一点一滴 星期一 "
        "十分钟以后 一下子 千万小心 百分之百 萬一 一點一滴")
                                      .split(QLatin1Char(' '));
    for (int i = 0; i + 1 < changed.size(); i += 2)
        QTest::newRow(qPrintable(changed[i])) << changed[i] << changed[i + 1];
    for (const QString &word : unchanged)
        QTest::newRow(qPrintable(QStringLiteral("keeps ") + word)) << word << word;
}

void TextRulesTest::numbers()
{
    QFETCH(QString, input);
    QFETCH(QString, expected);
    QCOMPARE(ChineseNumbers::toDigits(input), expected);
}

void TextRulesTest::terms_data()
{
    QTest::addColumn<QString>("input");
    QTest::addColumn<QString>("expected");
    QTest::newRow("Chinese anywhere")
        << QStringLiteral("我们用托瓦林转写") << QStringLiteral("我们用Tovarin转写");
    QTest::newRow("case and width fold")
        << QStringLiteral("open ai 和 ＯＰＥＮ ＡＩ") << QStringLiteral("OpenAI 和 OpenAI");
    QTest::newRow("Latin whole words only")
        << QStringLiteral("cat category scat Cat.") << QStringLiteral("Kat category scat Kat.");
    QTest::newRow("longest wrong first, once")
        << QStringLiteral("深度求索模型") << QStringLiteral("DeepSeek模型");
}

void TextRulesTest::terms()
{
    const UserTerms terms = UserTerms::parse(
        QStringLiteral("# names\n托瓦林 => Tovarin\nopen ai => OpenAI\ncat=>Kat\n\n求索 => "
                       "探索\n深度求索 => DeepSeek\n"));
    QFETCH(QString, input);
    QFETCH(QString, expected);
    QCOMPARE(terms.apply(input), expected);
}

void TextRulesTest::termsPromptStaysWithinTheLimit()
{
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("terms.txt"));
    QFile out(file);
    QVERIFY(out.open(QIODevice::WriteOnly));
    QString lines = QStringLiteral("托瓦林 => Tovarin\nPocketSphinx\n");
    for (int i = 0; i < 100; ++i)
        lines += QStringLiteral("术语%1\n").arg(i);
    out.write(lines.toUtf8());
    out.close();

    const UserTerms terms = UserTermsFile::load(file);
    QCOMPARE(terms.replacements.size(), 1);
    const QString prompt = terms.prompt();
    QVERIFY(prompt.startsWith(QStringLiteral("Tovarin, PocketSphinx, 术语0, ")));
    int weight = 0;
    for (const QChar c : prompt)
        weight += c.unicode() < 0x80 ? 1 : 2;
    QVERIFY2(weight <= 224 && weight > 200, qPrintable(QString::number(weight)));
    QVERIFY(!prompt.endsWith(QLatin1Char(',')));
    QVERIFY(UserTermsFile::load(dir.filePath(QStringLiteral("none.txt"))).isEmpty());
}

void TextRulesTest::stepsRunInTheirOrder()
{
    TextRules rules;
    rules.script = Target::Simplified;
    rules.chinesePunctuation = true;
    rules.arabicNumbers = true;
    // The correction's wrong side is written in traditional: it still matches after step 1.
    rules.terms = UserTerms::parse(QStringLiteral("託瓦林 => Tovarin"));
    QCOMPARE(rules.apply(QStringLiteral("託瓦林在二〇二六年發佈 , 準確率百分之九十五.")),
        QStringLiteral("Tovarin在2026年发布，准确率95%。"));
    rules.spaceBetween = true;
    QCOMPARE(rules.apply(QStringLiteral("託瓦林在二〇二六年發佈")),
        QStringLiteral("Tovarin 在 2026 年发布"));
    QCOMPARE(rules.applyToWord(QStringLiteral("發佈.")), QStringLiteral("发布."));
    QVERIFY(TextRules().changesNothing());
    QCOMPARE(TextRules().apply(QStringLiteral("頭發 , 一些")), QStringLiteral("頭發 , 一些"));
}

QTEST_APPLESS_MAIN(TextRulesTest)
#include "tst_textrules.moc"
