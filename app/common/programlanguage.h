#pragma once

#include <QLocale>
#include <QStringList>

class QCoreApplication;

/// The languages of the program's texts: Chinese, in which the sources
/// write them, and an English translation built from translations/.
enum class ProgramLanguage { Chinese, English };

/// The language for a user's preferred languages, most preferred first (as
/// QLocale::uiLanguages() gives them from LANGUAGE, LC_ALL, LC_MESSAGES and
/// LANG): the first Chinese or English entry decides; a list with neither,
/// such as the C locale's, gets English.
ProgramLanguage programLanguageFor(const QStringList &uiLanguages);

/// Installs on `app` the translators for `locale` and returns the language
/// chosen: the program's English texts, or for Chinese, Qt's own Chinese
/// texts for its file dialog and message box buttons (from Qt's translations
/// folder, when they are installed). The translators are children of `app`.
ProgramLanguage installProgramTranslations(QCoreApplication *app,
                                           const QLocale &locale = QLocale::system());
