#pragma once

// The check of tst_chinesetexts: which texts given to the screen are English.
#include <QRegularExpression>
#include <QSet>
#include <QStringList>

#include <algorithm>

// Calls whose text arguments the user reads.
inline const QRegularExpression Sink(QStringLiteral(
    R"(\b(setText|setWindowTitle|setToolTip|setPlaceholderText|setStatusTip|setWhatsThis|showMessage|setTabText|)"
    R"(setTabToolTip|addTab|insertTab|addItem|addItems|setItemText|setHeaderLabels?|setLabelText|setTitle|)"
    R"(setInformativeText|setDetailedText|setSpecialValueText|setSuffix|setPrefix|AppError|ShowMessageBox|)"
    R"(ShowMsgBox|makeAction|QLabel|QPushButton|QToolButton|QCheckBox|QRadioButton|QGroupBox|QAction)\s*\()"));

// The fixed English texts the program shows as they are.
inline const QSet<QString> FixedTexts = {
    QStringLiteral("Online"),
    QStringLiteral("Offline"),
    QStringLiteral("Remote Desktop"),
    QStringLiteral(" - Remote Desktop"),
    QStringLiteral("Kestrune 1.3 "),
    QStringLiteral("Unable to write to %1"),
    QStringLiteral("Cannot load icmp.dll."),
    QStringLiteral("''%1'' is not a valid integer value"),
};

// Words that stay as they are in a Chinese program: the product, protocols, keys.
inline const QSet<QString> Names = {
    QStringLiteral("Brennic"),
    QStringLiteral("RDP"),
    QStringLiteral("ICMP"),
    QStringLiteral("TCP"),
    QStringLiteral("UDP"),
    QStringLiteral("IP"),
    QStringLiteral("IPv4"),
    QStringLiteral("IPv6"),
    QStringLiteral("DNS"),
    QStringLiteral("TLS"),
    QStringLiteral("NLA"),
    QStringLiteral("URL"),
    QStringLiteral("PostgreSQL"),
    QStringLiteral("Windows"),
    QStringLiteral("Win"),
    QStringLiteral("Ctrl"),
    QStringLiteral("Alt"),
    QStringLiteral("Shift"),
    QStringLiteral("Enter"),
    QStringLiteral("Esc"),
    QStringLiteral("Tab"),
    QStringLiteral("OK"),
    QStringLiteral("ini"),
    QStringLiteral("SvrList"),
};

// The literals of a piece of C++: "..." with its escapes, adjacent ones joined.
inline QStringList Literals(const QString &code)
{
    QStringList found;
    QString current;
    bool joining = false;
    for (qsizetype i = 0; i < code.size(); ++i) {
        const QChar c = code.at(i);
        if (c == QLatin1Char('\'')) { // a character literal
            i += code.mid(i, 4).startsWith(QLatin1String("'\\")) ? 3 : 2;
            continue;
        }
        if (c != QLatin1Char('"')) {
            if (!c.isSpace() && joining) {
                found << current;
                current.clear();
                joining = false;
            }
            continue;
        }
        for (++i; i < code.size() && code.at(i) != QLatin1Char('"'); ++i) {
            if (code.at(i) == QLatin1Char('\\') && i + 1 < code.size()) {
                const QChar e = code.at(++i);
                current += e == QLatin1Char('n') ? QChar(u'\n') : e == QLatin1Char('r') || e == QLatin1Char('t') ? QChar(u' ')
                                                                                                                 : e;
            } else {
                current += code.at(i);
            }
        }
        joining = true;
    }
    if (joining)
        found << current;
    return found;
}

// The text of the call's arguments: from the open parenthesis to its match.
inline QString Arguments(const QString &code, qsizetype open)
{
    int depth = 0;
    bool inString = false;
    for (qsizetype i = open; i < code.size(); ++i) {
        const QChar c = code.at(i);
        if (inString) {
            if (c == QLatin1Char('\\'))
                ++i;
            else if (c == QLatin1Char('"'))
                inString = false;
        } else if (c == QLatin1Char('\'')) {
            i += code.mid(i, 4).startsWith(QLatin1String("'\\")) ? 3 : 2;
        } else if (c == QLatin1Char('"')) {
            inString = true;
        } else if (c == QLatin1Char('(')) {
            ++depth;
        } else if (c == QLatin1Char(')') && --depth == 0) {
            return code.mid(open + 1, i - open - 1);
        }
    }
    return code.mid(open + 1);
}

inline bool HasChinese(const QString &text)
{
    for (const QChar c : text)
        if (c.unicode() >= 0x3000 && c.unicode() <= 0x9FFF)
            return true;
    return false;
}

// A text the user would read in English: no Chinese, and a word that is no name.
inline bool IsEnglish(const QString &text)
{
    if (HasChinese(text) || FixedTexts.contains(text))
        return false;
    static const QRegularExpression word(QStringLiteral("[A-Za-z][A-Za-z]+"));
    for (auto it = word.globalMatch(text); it.hasNext();)
        if (!Names.contains(it.next().captured()))
            return true;
    return false;
}

// The texts of the program's own words in a piece of code: the literals given to
// QStringLiteral and tr(). Plain literals name things (objects, actions) instead.
inline QStringList TextLiterals(const QString &code)
{
    static const QRegularExpression text(QStringLiteral("\\b(QStringLiteral|tr)\\s*\\("));
    QStringList found;
    for (auto it = text.globalMatch(code); it.hasNext();)
        found << Literals(Arguments(code, it.next().capturedEnd() - 1));
    return found;
}

// The English texts given to the screen in a piece of code, one line each. A text
// of several lines is English when one of its lines is.
inline QStringList EnglishTexts(const QString &code)
{
    QStringList found;
    for (auto it = Sink.globalMatch(code); it.hasNext();) {
        const QRegularExpressionMatch call = it.next();
        for (const QString &text : TextLiterals(Arguments(code, call.capturedEnd() - 1))) {
            const QStringList lines = text.split(QLatin1Char('\n'));
            if (std::any_of(lines.begin(), lines.end(), IsEnglish))
                found << call.captured(1) + QStringLiteral(": \"") + QString(text).replace(QLatin1Char('\n'), QLatin1Char(' '))
                        + QLatin1Char('"');
        }
    }
    return found;
}

inline QString Code(const char *code)
{
    return QString::fromUtf8(code);
}

// Small pieces of code and the English texts the check finds in them.
struct CheckCase {
    const char *name;
    QString code;
    QStringList english;
};

inline QList<CheckCase> CheckCases()
{
    return {
        {"Chinese caption", Code(R"c(button->setText(QStringLiteral("连接(&C)"));)c"), QStringList()},
        {"English error", Code(R"c(throw AppError(QStringLiteral("Cannot open %1: no browser").arg(url));)c"), QStringList{QStringLiteral("AppError: \"Cannot open %1: no browser\"")}},
        {"English in an argument of arg()", Code(R"c(label->setText(QStringLiteral("状态：%1").arg(QStringLiteral("probe failed")));)c"), QStringList{QStringLiteral("setText: \"probe failed\"")}},
        {"joined literals", Code("box->setToolTip(QStringLiteral(\"Press \"\n  \"here\"));"),
         QStringList{QStringLiteral("setToolTip: \"Press here\"")}},
        {"action's name and caption", Code(R"c(makeAction("actAdd", QStringLiteral("添加(&A)"), QKeySequence());)c"), QStringList()},
        {"fixed text, then a line of its own", Code(R"c(throw AppError(QStringLiteral("Unable to write to %1\n%2").arg(a, b));)c"),
         QStringList()},
        {"an English line among Chinese ones", Code(R"c(ShowMessageBox(this, QStringLiteral("无法连接。\nServer refused"));)c"),
         QStringList{QStringLiteral("ShowMessageBox: \"无法连接。 Server refused\"")}},
        {"fixed status word", Code(R"c(row->setText(2, QStringLiteral("Offline"));)c"), QStringList()},
        {"names and keys", Code(R"c(hint->setText(QStringLiteral("Ctrl+Alt+Enter"));)c"), QStringList()},
        {"Chinese with a command", Code(R"c(ShowMessageBox(this, QStringLiteral("请执行 sysctl -w net.ipv4.ping_group_range"));)c"), QStringList()},
        {"object name", Code(R"c(edit->setObjectName(QStringLiteral("edtFind"));)c"), QStringList()},
        {"settings key", Code(R"c(settings.setValue(QStringLiteral("MainWindow/Geometry"), g);)c"), QStringList()},
        {"SQL", Code(R"c(query.exec(QStringLiteral("SELECT id FROM servers WHERE name = ?"));)c"), QStringList()},
        {"file name", Code(R"c(QFile file(QStringLiteral(":/pages/about.html"));)c"), QStringList()},
        {"format only", Code(R"c(label->setText(QStringLiteral("%1:%2").arg(host).arg(port));)c"), QStringList()},
        {"character literal", Code(R"c(label->setText(QString(QLatin1Char('"')) + QStringLiteral("名"));)c"), QStringList()},
    };
}
