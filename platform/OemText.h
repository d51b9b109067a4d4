#pragma once
// NetBIOS names arrive in the sender's OEM code page; these turn them into display text.

#include <QByteArray>
#include <QString>

namespace corvane::platform {

// The OEM code page Windows uses for a locale name such as "de_DE.UTF-8" or "ru_RU"
// (437 US English, 850 Western Europe, 852 Central Europe, 866 Cyrillic ...); 850 when unknown.
int oem_code_page_for_locale(const QString& localeName);

// The user's locale as the C library would pick it for character handling: LC_ALL, LC_CTYPE, LANG.
QString user_locale_name();

// oem_code_page_for_locale(user_locale_name()).
int user_oem_code_page();

// Converts OEM bytes up to the first zero byte to Unicode. Any length; undecodable bytes become
// U+FFFD. A code page iconv does not know falls back to 850.
QString oem_to_unicode(const QByteArray& oem, int codePage);

} // namespace corvane::platform

// The text converted from the user's OEM code page.
QString OemNameToAnsi(const QByteArray& oemText);
