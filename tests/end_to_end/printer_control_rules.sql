-- The rules of the printer control test: on "Sim Pause" users "pauser" and
-- "Zoë" are paused (JOB_CONTROL_PAUSE), on "Sim Delete" user "deleter" is
-- deleted (JOB_CONTROL_DELETE), on "Sim GDI" user "failer" is paused (the
-- test makes that command fail). "Sim Free" has no rule.
INSERT INTO PRINTERS (idPrinter, PrnName) VALUES (1, 'Sim Pause'), (2, 'Sim Delete'), (3, 'Sim GDI');
INSERT INTO USERS (idUser, UserName) VALUES (1, 'pauser'), (2, 'deleter'), (3, 'Zoë'), (4, 'failer');
INSERT INTO PRNPERMISSIONS (idPrinter, idUser, Action) VALUES (1, 1, 1), (2, 2, 5), (1, 3, 1), (3, 4, 1);
