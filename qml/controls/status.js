.pragma library
.import com.orvo.validation 1.0 as Service

// Colour names for the values the settings pages show ("green", "red", "amber", "grey", or ""
// for the page's plain colour; Theme.statusColor turns a name into a colour). The checks the
// technician's typing must pass are the objects' own, shared with the maintenance barcode.

// The validation service's status (validatorManager.statusId), and the reason beside it.
function validator(status) {
    switch (status) {
    case Service.Validator.Offline:
        return "red"
    case Service.Validator.Init:
    case Service.Validator.OutOfService:
    case Service.Validator.Degraded:
        return "amber"
    }
    return "green"
}

// A diagnostics result: not tested yet, passed, failed, or anything in between ("MISSING").
function diagnostic(value) {
    var text = value === undefined || value === null ? "" : String(value)
    if (text === "")
        return "grey"
    if (text === "OK")
        return "green"
    if (text.indexOf("ERROR") >= 0)
        return "red"
    return "amber"
}

function connectionState(state) {
    if (state === "Connected")
        return "green"
    if (state === "Disconnected")
        return "red"
    return "amber"
}

function connectivity(value) {
    if (value === "Full")
        return "green"
    if (value === "Portal" || value === "Limited")
        return "amber"
    return "red"
}

function update(status) {
    switch (status) {
    case "Disconnected":
        return "red"
    case "Ready to install":
        return "green"
    case "Downloading":
    case "Installing":
        return "amber"
    }
    return ""
}
