#include "programlanguage.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

// The compiled translations are a resource of a static library, so they are
// registered by hand (outside any namespace, as Qt requires).
static void initTranslationResources()
{
    Q_INIT_RESOURCE(translations);
}

namespace {

const char kEnglishCatalog[] = ":/translations/sheetdrain_en.qm";
const char kQtCatalog[] = "qtbase";

// "zh-CN", "zh_TW", "zh-Hans-CN" and "zh" are Chinese; "en-GB" is English.
QString languageOf(const QString &uiLanguage)
{
    int cut = 0;
    while (cut < uiLanguage.size() && uiLanguage.at(cut).isLetter())
        ++cut;
    return uiLanguage.left(cut).toLower();
}

// The first Chinese entry of the list, for choosing Qt's own catalogue.
QString firstChinese(const QStringList &uiLanguages)
{
    for (const QString &entry : uiLanguages) {
        if (languageOf(entry) == QLatin1String("zh"))
            return entry;
    }
    return QString();
}

void installTranslator(QCoreApplication *app, QTranslator *translator, bool loaded)
{
    if (!loaded || !app->installTranslator(translator))
        delete translator;
}

} // namespace

ProgramLanguage programLanguageFor(const QStringList &uiLanguages)
{
    for (const QString &entry : uiLanguages) {
        const QString language = languageOf(entry);
        if (language == QLatin1String("zh"))
            return ProgramLanguage::Chinese;
        if (language == QLatin1String("en"))
            return ProgramLanguage::English;
    }
    return ProgramLanguage::English;
}

ProgramLanguage installProgramTranslations(QCoreApplication *app, const QLocale &locale)
{
    initTranslationResources();
    const QStringList uiLanguages = locale.uiLanguages();
    const ProgramLanguage language = programLanguageFor(uiLanguages);
    if (language == ProgramLanguage::English) {
        // Qt's own texts are English already.
        auto *program = new QTranslator(app);
        installTranslator(app, program, program->load(QString::fromLatin1(kEnglishCatalog)));
        return language;
    }
    // The program's texts are Chinese in the sources; only Qt's own need a
    // catalogue. Without Qt's translations installed its buttons stay English.
    auto *qt = new QTranslator(app);
    installTranslator(app, qt,
                      qt->load(QLocale(firstChinese(uiLanguages)), QString::fromLatin1(kQtCatalog),
                               QStringLiteral("_"),
                               QLibraryInfo::location(QLibraryInfo::TranslationsPath)));
    return language;
}
