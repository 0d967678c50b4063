// The checks the JScript tests share; registration.sh runs a test joined after this file.
// Each check prints its own line, because cscript may print nothing for an uncaught error.
var passed = 0, failed = 0;

function report(description, problem) {
  if (problem === null) {
    passed++;
    WScript.Echo("ok    " + description);
  } else {
    failed++;
    WScript.Echo("FAIL  " + description + ": " + problem);
  }
}

// Runs `call` and compares its result, type included; an exception fails the check.
function check(description, call, expected) {
  var problem = null;
  try {
    var actual = call();
    if (typeof actual !== typeof expected) {
      problem = "got a " + typeof actual + ", expected a " + typeof expected;
    } else if (actual !== expected) {
      problem = "got [" + actual + "], expected [" + expected + "]";
    }
  } catch (e) {
    problem = "error " + (e.number >>> 0).toString(16).toUpperCase() + ": " + e.description;
  }
  report(description, problem);
}

// Runs `call` and expects it to throw `number` with a description.
function checkError(description, call, number) {
  var problem = "no error";
  try {
    call();
  } catch (e) {
    problem = (e.number >>> 0) !== number ? "error " + (e.number >>> 0).toString(16) + ": " + e.description
            : e.description ? null : "no description";
  }
  report(description, problem);
}

// Prints the totals and ends the script: 0 when every check passed and there was one.
function finish() {
  WScript.Echo(passed + " passed, " + failed + " failed");
  WScript.Quit(failed > 0 || passed === 0 ? 1 : 0);
}
