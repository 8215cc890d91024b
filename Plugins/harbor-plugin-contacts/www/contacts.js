// navigator.contacts: the device's address book. Contacts are plain objects in the W3C contact
// shape; failures reach the error callback as a ContactError whichever form the native side
// used (an error object {"code": n} or the bare code n).
harbor.define('harbor-plugin-contacts.contacts', function (require, exports, module) {
  var exec = require('harbor/exec');

  function ContactError(code) {
    this.code = typeof code === 'number' ? code : ContactError.UNKNOWN_ERROR;
  }
  ContactError.UNKNOWN_ERROR = 0;
  ContactError.INVALID_ARGUMENT_ERROR = 1;
  ContactError.TIMEOUT_ERROR = 2;
  ContactError.PENDING_OPERATION_ERROR = 3;
  ContactError.IO_ERROR = 4;
  ContactError.NOT_SUPPORTED_ERROR = 5;
  ContactError.OPERATION_CANCELLED_ERROR = 6;
  ContactError.PERMISSION_DENIED_ERROR = 20;

  function failWith(error) {
    return function (e) {
      if (typeof error !== 'function') return;
      error(new ContactError(e !== null && typeof e === 'object' ? e.code : e));
    };
  }

  function withMethods(contact) {
    contact.save = function (success, error) { contacts.save(contact, success, error); };
    contact.remove = function (success, error) { contacts.remove(contact.id, success, error); };
    return contact;
  }

  // The fields a page has set, without the methods. The native side takes a birthday as
  // milliseconds since 1970, so a Date goes as its time value.
  function dataOf(contact) {
    var data = {};
    Object.keys(contact).forEach(function (key) {
      if (typeof contact[key] !== 'function') data[key] = contact[key];
    });
    if (data.birthday instanceof Date) data.birthday = data.birthday.getTime();
    return data;
  }

  // Why a contact cannot be saved, or null. JSON would turn a birthday of NaN or Infinity (an
  // invalid Date among them) into null and drop it quietly under one engine, while the other
  // refuses it: refused here under both, as the native side does.
  function unsaveable(contact) {
    if (contact === null || typeof contact !== 'object' || Array.isArray(contact)) return 'not a contact object';
    var birthday = contact.birthday instanceof Date ? contact.birthday.getTime() : contact.birthday;
    if (typeof birthday === 'number' && !isFinite(birthday)) return 'the birthday is not a date';
    return null;
  }

  var contacts = {
    ContactError: ContactError,
    create: function (properties) {
      var contact = { id: null };
      Object.keys(properties || {}).forEach(function (key) { contact[key] = properties[key]; });
      return withMethods(contact);
    },
    find: function (fields, success, error, options) {
      exec(function (found) { success(found.map(withMethods)); }, failWith(error), 'Contacts', 'search',
           [fields, options || null]);
    },
    save: function (contact, success, error) {
      var refusal = unsaveable(contact);
      if (refusal !== null) {
        console.error('contacts.save: ' + refusal);
        failWith(error)(ContactError.IO_ERROR);
        return;
      }
      exec(function (stored) { if (success) success(withMethods(stored)); }, failWith(error), 'Contacts', 'save',
           [dataOf(contact)]);
    },
    remove: function (id, success, error) {
      exec(success, failWith(error), 'Contacts', 'remove', [id]);
    },
    newContactUI: function (success, error) {
      exec(success, failWith(error), 'Contacts', 'newContact', []);
    },
    displayContact: function (id, error, options) {
      exec(null, failWith(error), 'Contacts', 'displayContact', [id, options || null]);
    },
    chooseContact: function (success, options, error) {
      exec(function (c) { success(withMethods(c)); }, failWith(error), 'Contacts', 'chooseContact', [options || null]);
    },
    pickContact: function (success, error, fields) {
      exec(function (c) { success(withMethods(c)); }, failWith(error), 'Contacts', 'pickContact', [fields || []]);
    }
  };

  navigator.contacts = contacts;
  module.exports = contacts;
});
