-- Outbox and inbox for PostgreSQL. A message received twice (the gateway stopped
-- between storing it and deleting it from the modem) hits the unique index and is
-- stored once.
CREATE TABLE smsout(
    msgid   serial PRIMARY KEY,
    phone   varchar(32) NOT NULL,
    msgbody text NOT NULL,
    status  integer NOT NULL DEFAULT 0
);
-- Every poll counts and reads the waiting rows: an index on them alone keeps that cheap
-- however many sent rows the table keeps.
CREATE INDEX smsout_waiting ON smsout(msgid) WHERE status = 0;
CREATE TABLE smsin(
    id      serial PRIMARY KEY,
    phone   varchar(32),
    msgbody text,
    rectime timestamp
);
CREATE UNIQUE INDEX smsin_once ON smsin(phone, rectime, md5(msgbody));
