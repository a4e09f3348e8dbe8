.pragma library

// Formatting of the figures a validation result carries. Every function returns an empty text
// for a value of the wrong kind, so that a damaged result never puts "NaN" or "undefined" on
// the passenger's screen.

function isNumber(value) {
    return typeof value === "number" && isFinite(value)
}

// Minutes as days above one day, as hours above two hours, else as minutes; `words` holds the
// translated unit words (day, days, hour, hours, min, mins).
function period(minutes, words) {
    if (!isNumber(minutes) || !words)
        return ""
    if (minutes > 1440) {
        var days = Math.round(minutes / 1440)
        return days + " " + (days === 1 ? words.day : words.days)
    }
    if (minutes > 120) {
        var hours = Math.round(minutes / 60)
        return hours + " " + (hours === 1 ? words.hour : words.hours)
    }
    var mins = Math.round(minutes)
    return mins + " " + (mins === 1 ? words.min : words.mins)
}

// A count shown as the service sent it.
function count(value) {
    if (isNumber(value))
        return String(value)
    return typeof value === "string" ? value : ""
}

function currency(amount, locale) {
    if (!isNumber(amount) || !locale)
        return ""
    return Number(amount).toLocaleCurrencyString(locale)
}

function date(value, locale, format) {
    if (!(value instanceof Date) || isNaN(value.getTime()) || !locale)
        return ""
    return value.toLocaleDateString(locale, format)
}
