-- The rules of the printer control test: on "Sim Pause" user "pauser" is
-- paused (JOB_CONTROL_PAUSE), on "Sim Delete" user "deleter" is deleted
-- (JOB_CONTROL_DELETE). "Sim Free" has no rule.
INSERT INTO PRINTERS (idPrinter, PrnName) VALUES (1, 'Sim Pause'), (2, 'Sim Delete');
INSERT INTO USERS (idUser, UserName) VALUES (1, 'pauser'), (2, 'deleter');
INSERT INTO PRNPERMISSIONS (idPrinter, idUser, Action) VALUES (1, 1, 1), (2, 2, 5);
