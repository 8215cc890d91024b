// The device's language and locale, and dates and numbers as the locale writes them:
//   var g = require('harbor-plugin-globalization.globalization');   (also navigator.globalization)
//   g.dateToString(new Date(), function (r) { r.value }, fail, {formatLength: 'long', selector: 'date'});
// Failures receive {code, message} with one of the codes below; calls that need an argument
// and get none receive the text "no options given".
harbor.define('harbor-plugin-globalization.globalization', function (require, exports, module) {
  var exec = require('harbor/exec');
  var SERVICE = 'Globalization';

  exports.UNKNOWN_ERROR = 0;
  exports.FORMATTING_ERROR = 1;
  exports.PARSING_ERROR = 2;
  exports.PATTERN_ERROR = 3;

  // Dates travel as milliseconds since 1970.
  function millis(date) {
    return date instanceof Date ? date.valueOf() : date;
  }

  function call(action, argument) {
    return function (success, fail) {
      exec(success, fail, SERVICE, action, argument === undefined ? [] : [argument]);
    };
  }

  // success({value: 'en-US'})
  exports.getPreferredLanguage = function (success, fail) { call('getPreferredLanguage')(success, fail); };
  // success({value: 'de-CH'})
  exports.getLocaleName = function (success, fail) { call('getLocaleName')(success, fail); };
  // options: {formatLength: 'short'|'medium'|'long'|'full', selector: 'date'|'time'|'date and time'}
  exports.dateToString = function (date, success, fail, options) {
    call('dateToString', { date: millis(date), options: options })(success, fail);
  };
  // success({year, month (0-11), day, hour, minute, second, millisecond})
  exports.stringToDate = function (dateString, success, fail, options) {
    call('stringToDate', { dateString: dateString, options: options })(success, fail);
  };
  // success({pattern, timezone, utc_offset, dst_offset})
  exports.getDatePattern = function (success, fail, options) {
    call('getDatePattern', { options: options })(success, fail);
  };
  // options: {type: 'narrow'|'wide', item: 'months'|'days'}; success({value: [names]})
  exports.getDateNames = function (success, fail, options) {
    call('getDateNames', { options: options })(success, fail);
  };
  // success({dst: true|false})
  exports.isDayLightSavingsTime = function (date, success, fail) {
    call('isDayLightSavingsTime', { date: millis(date) })(success, fail);
  };
  // success({value: 1 (Sunday) .. 7})
  exports.getFirstDayOfWeek = function (success, fail) { call('getFirstDayOfWeek')(success, fail); };
  // options: {type: 'decimal'|'currency'|'percent'}
  exports.numberToString = function (number, success, fail, options) {
    call('numberToString', { number: number, options: options })(success, fail);
  };
  exports.stringToNumber = function (numberString, success, fail, options) {
    call('stringToNumber', { numberString: numberString, options: options })(success, fail);
  };
  // success({pattern, symbol, fraction, rounding, positive, negative, decimal, grouping})
  exports.getNumberPattern = function (success, fail, options) {
    call('getNumberPattern', { options: options })(success, fail);
  };
  // success({pattern, code, fraction, rounding, decimal, grouping})
  exports.getCurrencyPattern = function (currencyCode, success, fail) {
    call('getCurrencyPattern', { currencyCode: currencyCode })(success, fail);
  };

  if (typeof navigator !== 'undefined') navigator.globalization = exports;
});
