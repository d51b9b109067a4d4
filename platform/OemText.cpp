#include "platform/OemText.h"

#include <QHash>

#include <algorithm>
#include <cerrno>
#include <iconv.h>
#include <memory>
#include <unordered_map>

namespace corvane::platform {

namespace {

struct IconvCloser
{
    void operator()(iconv_t cd) const { ::iconv_close(cd); }
};
using IconvHandle = std::unique_ptr<std::remove_pointer_t<iconv_t>, IconvCloser>;

IconvHandle open_from_code_page(int codePage)
{
    const QByteArray from = "CP" + QByteArray::number(codePage);
    iconv_t cd = ::iconv_open("UTF-8", from.constData());
    if (cd == reinterpret_cast<iconv_t>(-1))
        return {};
    return IconvHandle(cd);
}

// One converter per code page and thread: an iconv handle carries shift state and must not be
// shared between threads. Null when neither the page nor 850 is known.
iconv_t converter_for(int codePage)
{
    thread_local std::unordered_map<int, IconvHandle> converters;
    auto found = converters.find(codePage);
    if (found == converters.end()) {
        IconvHandle cd = open_from_code_page(codePage);
        if (!cd)
            cd = open_from_code_page(850);
        found = converters.emplace(codePage, std::move(cd)).first;
    }
    return found->second.get();
}

} // namespace

int oem_code_page_for_locale(const QString& localeName)
{
    // "de_DE.UTF-8@euro" -> language "de", territory "DE"
    QString name = localeName;
    name.truncate(name.indexOf(QLatin1Char('@')) < 0 ? name.size() : name.indexOf(QLatin1Char('@')));
    name.truncate(name.indexOf(QLatin1Char('.')) < 0 ? name.size() : name.indexOf(QLatin1Char('.')));
    name.replace(QLatin1Char('-'), QLatin1Char('_'));
    const QString language = name.section(QLatin1Char('_'), 0, 0).toLower();
    const QString territory = name.section(QLatin1Char('_'), 1, 1).toUpper();

    if (language == QLatin1String("en"))
        return territory == QLatin1String("US") || territory.isEmpty() ? 437 : 850;
    if (language == QLatin1String("fr") && territory == QLatin1String("CA"))
        return 863;
    if (language == QLatin1String("pt") && territory == QLatin1String("PT"))
        return 860;
    if (language == QLatin1String("sr") && (territory == QLatin1String("RS") || territory == QLatin1String("ME")))
        return 855;

    static const QHash<QString, int> byLanguage = {
        // Western Europe
        {QStringLiteral("de"), 850}, {QStringLiteral("fr"), 850}, {QStringLiteral("it"), 850},
        {QStringLiteral("es"), 850}, {QStringLiteral("pt"), 850}, {QStringLiteral("nl"), 850},
        {QStringLiteral("sv"), 850}, {QStringLiteral("fi"), 850}, {QStringLiteral("ca"), 850},
        {QStringLiteral("eu"), 850}, {QStringLiteral("gl"), 850}, {QStringLiteral("ga"), 850},
        {QStringLiteral("af"), 850}, {QStringLiteral("id"), 850}, {QStringLiteral("ms"), 850},
        {QStringLiteral("is"), 861}, {QStringLiteral("da"), 865}, {QStringLiteral("nb"), 865},
        {QStringLiteral("nn"), 865}, {QStringLiteral("no"), 865},
        // Central Europe
        {QStringLiteral("cs"), 852}, {QStringLiteral("pl"), 852}, {QStringLiteral("hu"), 852},
        {QStringLiteral("sk"), 852}, {QStringLiteral("sl"), 852}, {QStringLiteral("hr"), 852},
        {QStringLiteral("ro"), 852}, {QStringLiteral("sq"), 852}, {QStringLiteral("bs"), 852},
        // Cyrillic
        {QStringLiteral("ru"), 866}, {QStringLiteral("uk"), 866}, {QStringLiteral("be"), 866},
        {QStringLiteral("bg"), 866}, {QStringLiteral("mk"), 866}, {QStringLiteral("kk"), 866},
        {QStringLiteral("ky"), 866}, {QStringLiteral("tt"), 866}, {QStringLiteral("mn"), 866},
        // Baltic, Greek, Turkish, Hebrew, Arabic
        {QStringLiteral("lt"), 775}, {QStringLiteral("lv"), 775}, {QStringLiteral("et"), 775},
        {QStringLiteral("el"), 737}, {QStringLiteral("tr"), 857}, {QStringLiteral("az"), 857},
        {QStringLiteral("he"), 862}, {QStringLiteral("ar"), 864}, {QStringLiteral("fa"), 864},
        // Asia
        {QStringLiteral("th"), 874}, {QStringLiteral("ja"), 932}, {QStringLiteral("ko"), 949},
        {QStringLiteral("vi"), 1258},
    };
    if (language == QLatin1String("zh"))
        return territory == QLatin1String("TW") || territory == QLatin1String("HK") ? 950 : 936;
    return byLanguage.value(language, 850);
}

QString user_locale_name()
{
    for (const char* var : {"LC_ALL", "LC_CTYPE", "LANG"}) {
        const QString value = qEnvironmentVariable(var);
        if (!value.isEmpty())
            return value;
    }
    return QString();
}

int user_oem_code_page()
{
    // The environment is read each time (a changed LC_ALL takes effect at once); only the
    // name's parse is remembered.
    thread_local QString last_name;
    thread_local int last_page = oem_code_page_for_locale(QString());
    const QString name = user_locale_name();
    if (name != last_name) {
        last_page = oem_code_page_for_locale(name);
        last_name = name;
    }
    return last_page;
}

QString oem_to_unicode(const QByteArray& oem, int codePage)
{
    const qsizetype zero = oem.indexOf('\0');
    const QByteArray input = zero < 0 ? oem : oem.left(zero);
    if (input.isEmpty())
        return QString();

    iconv_t cd = converter_for(codePage);
    if (!cd)
        return QString::fromLatin1(input);
    // Each name starts in the initial state, whatever the previous one left.
    ::iconv(cd, nullptr, nullptr, nullptr, nullptr);

    // Sized for the worst case, so one pass converts any length.
    QByteArray out(input.size() * 4 + 4, Qt::Uninitialized);
    char* in = const_cast<char*>(input.constData());
    std::size_t inLeft = static_cast<std::size_t>(input.size());
    char* outPtr = out.data();
    std::size_t outLeft = static_cast<std::size_t>(out.size());
    while (inLeft > 0) {
        if (::iconv(cd, &in, &inLeft, &outPtr, &outLeft) != static_cast<std::size_t>(-1))
            break;
        if (errno == E2BIG) {
            const auto used = outPtr - out.data();
            out.resize(out.size() * 2);
            outPtr = out.data() + used;
            outLeft = static_cast<std::size_t>(out.size() - used);
            continue;
        }
        // EILSEQ or EINVAL: mark the byte and go on with the next.
        static constexpr char replacement[] = "\xEF\xBF\xBD";
        if (outLeft < 3) {
            const auto used = outPtr - out.data();
            out.resize(out.size() + 16);
            outPtr = out.data() + used;
            outLeft = static_cast<std::size_t>(out.size() - used);
        }
        std::copy(replacement, replacement + 3, outPtr);
        outPtr += 3;
        outLeft -= 3;
        ++in;
        --inLeft;
        ::iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
    out.truncate(outPtr - out.data());
    return QString::fromUtf8(out);
}

} // namespace corvane::platform

QString OemNameToAnsi(const QByteArray& oemText)
{
    return corvane::platform::oem_to_unicode(oemText, corvane::platform::user_oem_code_page());
}
