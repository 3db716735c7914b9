// The same visit from JScript, with errors caught as exceptions.
var failures = 0;
function check(ok, what) {
    WScript.Echo((ok ? "ok   " : "FAIL ") + what);
    if (!ok) failures++;
}
function errorOf(f) {
    try { f(); } catch (e) { return { number: e.number & 0xFFFF, description: e.description }; }
    return { number: 0, description: "" };
}

var c = new ActiveXObject("QMXClicker.Clicker");
check(c.hello == "Clicker control successfully installed", "hello");
c.lastport = 3;
var data = c.alldata;
check(c.open_ok, "open_ok");
check(c.comport == 3, "comport " + c.comport);
var count = c.num_barcodes;
check(data.length == 36 + 32 * count, "upload string of " + count + " records");
c.get_barcode = 1;
check(data.substr(39, 13).replace(/ +$/, "") == c.sbarcode, "first barcode " + c.sbarcode);
check(parseInt(data.substr(52, 2), 10) == c.stype, "first code type " + c.stype);

var e = errorOf(function () { c.get_barcode = 0; var x = c.sbarcode; });
check(e.number == 9 && e.description == "Subscript out of range", "sbarcode with entry 0: " + e.number + " " + e.description);
e = errorOf(function () { c.newparams = null; });
check(e.number == 94, "newparams null: " + e.number + " " + e.description);
e = errorOf(function () { c.startport = "x"; c.getdate(); });
check(e.number == 13, "getdate with port x: " + e.number + " " + e.description);

c = null;
if (failures == 0) WScript.Echo("visit.js: all checks passed");
WScript.Quit(failures);
