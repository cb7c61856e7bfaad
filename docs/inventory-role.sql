-- Roles for a Kestrune Durvane inventory on a PostgreSQL server that many
-- sites share: kd_recorder may record scans and read them back and nothing
-- else (no DELETE, no TRUNCATE, no tables of its own, no change to the
-- tables), kd_reader may only read, for reports. Both are group roles
-- (NOLOGIN); each site logs in with a role of its own that is a member of
-- kd_recorder.
--
-- The order:
--   1. Make the database, owned by a role of its own:
--        CREATE ROLE kd_owner LOGIN;  CREATE DATABASE inventory OWNER kd_owner ENCODING 'UTF8';
--   2. Run vopal-scan once as that owner, so that it makes the tables (in
--      the schema public), e.g. on a small range:
--        vopal-scan --db 'postgresql://kd_owner@db.example.org/inventory' --site north 10.1.0.1
--      The recorder cannot make them: it may not create anything.
--   3. Run this script in that database as the owner (who must also have
--      CREATEROLE to make the roles) or as a superuser:
--        psql 'postgresql://kd_owner@db.example.org/inventory' -X -v ON_ERROR_STOP=1 \
--             -v site_role=site_north -f inventory-role.sql
--      With -v site_role=NAME it also makes the login role NAME for one
--      site, a member of kd_recorder; without, only the group roles.
--      Run it again whenever a new version of vopal-scan has changed the
--      tables: it grants on the tables that are there when it runs. Only
--      the owner may change them, so after an upgrade run the new
--      vopal-scan once as the owner first (as in step 2); until then a
--      site's scanner says it cannot bring the tables forward, and its
--      scans wait at the site.
--   4. Give each site's login role a password from psql, which sends it
--      already hashed (never in a command line or a server log):
--        \password site_north
--      and let the site's scanner connect as that role, the password in
--      the scanner's ~/.pgpass (mode 0600), not in the address:
--        vopal-scan --db 'postgresql://site_north@db.example.org/inventory?sslmode=verify-full' --site north ...
--   5. For reports, a login role in kd_reader:
--        CREATE ROLE reports LOGIN IN ROLE kd_reader;  \password reports
--
-- Roles belong to the whole server, grants to this database: in a second
-- inventory database, run the script there too.

\set ON_ERROR_STOP on

-- The tables must be there (step 2).
DO $$
BEGIN
    IF to_regclass('public.kd_inventory_version') IS NULL THEN
        RAISE EXCEPTION 'the inventory''s tables are not in this database'
            USING HINT = 'Run vopal-scan --db once as the database''s owner first; it makes them.';
    END IF;
END
$$;

-- The group roles, made once.
DO $$
BEGIN
    IF NOT EXISTS (SELECT FROM pg_roles WHERE rolname = 'kd_recorder') THEN
        CREATE ROLE kd_recorder NOLOGIN;
    END IF;
    IF NOT EXISTS (SELECT FROM pg_roles WHERE rolname = 'kd_reader') THEN
        CREATE ROLE kd_reader NOLOGIN;
    END IF;
END
$$;

-- Only the roles given it may connect, and no one but the owner may make
-- temporary tables: the database is the inventory's alone. Before PostgreSQL
-- 15, everyone could also create tables in the schema public; the owner of
-- the schema takes that back here (on 15 and later it is so already; run by
-- another role, the REVOKE only warns).
DO $$
BEGIN
    EXECUTE format('REVOKE CONNECT, TEMPORARY ON DATABASE %I FROM PUBLIC', current_database());
    EXECUTE format('GRANT CONNECT ON DATABASE %I TO kd_recorder, kd_reader', current_database());
END
$$;
REVOKE CREATE ON SCHEMA public FROM PUBLIC;
GRANT USAGE ON SCHEMA public TO kd_recorder, kd_reader;

-- Whatever either role held on the tables before, so that a run of the
-- script leaves exactly what it grants below.
REVOKE ALL ON kd_inventory_version, sites, hosts, scans, scan_ranges, sightings, site_hosts,
    changes FROM kd_recorder, kd_reader;
REVOKE ALL ON ALL SEQUENCES IN SCHEMA public FROM kd_recorder, kd_reader;

-- Reading: every table.
GRANT SELECT ON kd_inventory_version, sites, hosts, scans, scan_ranges, sightings, site_hosts,
    changes TO kd_recorder, kd_reader;

-- Recording a scan adds rows (COPY for sightings and changes counts as
-- INSERT) ...
GRANT INSERT ON sites, hosts, scans, scan_ranges, sightings, site_hosts, changes TO kd_recorder;
-- ... and updates these columns only: a site's row is locked by setting
-- its name to itself; a host keeps its last names (NetBIOS and the other
-- sources') and where it was last seen; what a site knows of a host; the
-- number of rows a scan answered.
GRANT UPDATE (name) ON sites TO kd_recorder;
GRANT UPDATE (computer, domain, names, last_scan, last_site, last_address) ON hosts
    TO kd_recorder;
GRANT UPDATE (last_scan, last_address, departed) ON site_hosts TO kd_recorder;
GRANT UPDATE (answered) ON scans TO kd_recorder;
-- The ids of sites, hosts and scans come from identity columns, which an
-- INSERT fills without any right on their sequences: none is granted, so
-- the recorder cannot draw ids (nextval) outside a row it adds.

-- One site's login role, when the script was told its name.
\if :{?site_role}
SELECT format('CREATE ROLE %I LOGIN', :'site_role')
    WHERE NOT EXISTS (SELECT FROM pg_roles WHERE rolname = :'site_role') \gexec
SELECT format('GRANT kd_recorder TO %I', :'site_role') \gexec
\endif
